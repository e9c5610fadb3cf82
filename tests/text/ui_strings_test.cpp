#include "text/ui_strings.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "text/text_rules.h"

namespace tessary {
namespace {

const Language kLanguages[] = {Language::English, Language::Spanish, Language::German};

std::vector<std::u16string> splitParagraphs(const std::u16string& text) {
  std::vector<std::u16string> paragraphs;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(u"\r\n\r\n", start);
    paragraphs.push_back(text.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start));
    if (end == std::u16string::npos) break;
    start = end + 4;
  }
  return paragraphs;
}

TEST(UiStrings, AllEntriesAreNonEmptyEnabledAndValidText) {
  int entries = 0;
  for (const Language language : kLanguages) {
    for (int id = 0; id < kUiTextCount; ++id) {
      SCOPED_TRACE(id);
      const std::u16string& text = uiText(language, id);
      EXPECT_FALSE(text.empty());
      EXPECT_TRUE(isEnabledScript(text));
      EXPECT_NO_THROW(toUtf8(text));
      EXPECT_EQ(text.find(u'\0'), std::u16string::npos);
      ++entries;
    }
  }
  EXPECT_EQ(entries, 168);
}

TEST(UiStrings, UnknownIdsAreRefused) {
  EXPECT_THROW(uiText(Language::English, -1), std::out_of_range);
  EXPECT_THROW(uiText(Language::German, kUiTextCount), std::out_of_range);
}

TEST(UiStrings, SampleEntriesInEachLanguage) {
  struct Case {
    int id;
    std::u16string english, spanish, german;
  };
  const Case cases[] = {
      {0, u"KORVANEL / IMAGE STUDIES", u"KORVANEL / ESTUDIO DE IM\u00C1GENES", u"KORVANEL / BILDSTUDIEN"},
      {16, u"Close", u"Cerrar", u"Schlie\u00DFen"},
      {17, u"Quit Tessary", u"Salir de Tessary", u"Tessary beenden"},
      {18, u"Open Tessary", u"Abrir Tessary", u"Tessary \u00F6ffnen"},
      {23, u"Wheel: zoom  /  Drag: pan  /  M: marker  /  C: crop  /  F: fit",
       u"Rueda: zoom  /  Arrastrar: mover  /  M: marca  /  C: recorte  /  F: ajustar",
       u"Mausrad: Zoom  /  Ziehen: bewegen  /  M: Marke  /  C: Ausschnitt  /  F: einpassen"},
      {27, u"Could not save. Changes remain in memory. Retry Save note before closing or switching images.",
       u"No se pudo guardar. Los cambios siguen en memoria. Reintenta antes de cerrar o cambiar de imagen.",
       u"Speichern fehlgeschlagen. \u00C4nderungen bleiben im Speicher. Vor dem Schlie\u00DFen oder Bildwechsel "
       u"erneut speichern."},
      {28, u"Text is not supported. Use the enabled languages.", u"Texto no compatible. Usa los idiomas habilitados.",
       u"Text nicht unterst\u00FCtzt. Bitte eine unterst\u00FCtzte Sprache verwenden."},
      {42, u"Local image", u"Imagen local", u"Lokales Bild"},
      {45, u"Copy", u"Copiar", u"Kopieren"},
      {48, u"Select all", u"Seleccionar todo", u"Alles ausw\u00E4hlen"},
      {51, u"OFFLINE \u00B7 SILENT", u"SIN CONEXI\u00D3N \u00B7 SIN SONIDO", u"OFFLINE \u00B7 LAUTLOS"},
      {54, u"Zoom in", u"Ampliar", u"Vergr\u00F6\u00DFern"},
      {55, u"Zoom out", u"Reducir", u"Verkleinern"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(uiText(Language::English, c.id), c.english);
    EXPECT_EQ(uiText(Language::Spanish, c.id), c.spanish);
    EXPECT_EQ(uiText(Language::German, c.id), c.german);
  }
}

TEST(UiStrings, PlateIsNamedAsTheBuiltInSkyField) {
  EXPECT_EQ(uiText(Language::English, 1), u"Sky plate");
  EXPECT_EQ(uiText(Language::Spanish, 1), u"Imagen del cielo");
  EXPECT_EQ(uiText(Language::German, 1), u"Himmelsaufnahme");
  const std::u16string sentences[] = {
      u"The sky plate is embedded at full resolution and works offline.",
      u"La imagen del cielo est\u00E1 integrada a resoluci\u00F3n completa.",
      u"Die Himmelsaufnahme ist in voller Aufl\u00F6sung eingebettet.",
  };
  for (int column = 0; column < 3; ++column) {
    const Language language = kLanguages[column];
    const auto paragraphs = splitParagraphs(uiText(language, 44));
    ASSERT_EQ(paragraphs.size(), 6u);
    EXPECT_NE(paragraphs[3].find(sentences[column]), std::u16string::npos) << column;
    for (int id = 0; id < kUiTextCount; ++id) {
      EXPECT_EQ(uiText(language, id).find(u"NASA"), std::u16string::npos) << id;
    }
  }
}

TEST(UiStrings, GuideHasSixParagraphsAndNoOtherLineBreaks) {
  const std::u16string lastParagraph[] = {u"Credits and licenses follow below.",
                                          u"Cr\u00E9ditos y licencias a continuaci\u00F3n.",
                                          u"Nachweise und Lizenzen folgen unten."};
  const std::u16string firstWords[] = {u"Tessary is the independent", u"Tessary es el complemento",
                                       u"Tessary ist Korvanels"};
  for (int column = 0; column < 3; ++column) {
    SCOPED_TRACE(column);
    const auto paragraphs = splitParagraphs(uiText(kLanguages[column], 44));
    ASSERT_EQ(paragraphs.size(), 6u);
    for (const auto& paragraph : paragraphs) {
      EXPECT_FALSE(paragraph.empty());
      EXPECT_EQ(paragraph.find_first_of(u"\r\n"), std::u16string::npos);
    }
    EXPECT_EQ(paragraphs[0].rfind(firstWords[column], 0), 0u);
    EXPECT_EQ(paragraphs[5], lastParagraph[column]);
  }
  EXPECT_EQ(splitParagraphs(uiText(Language::English, 44))[4],
            u"English, Spanish and German follow Windows; other interface languages use English. Local timestamps "
            u"follow Windows date/time and time-zone preferences. All controls and errors are silent. Keyboard: F "
            u"fit; 1 actual pixels; + and - zoom; arrow keys move the view (Shift: half the canvas); Page Down and "
            u"Page Up next and previous marker; Home and End first and last marker; Delete remove marker; Ctrl+Z undo "
            u"removal (outside the text boxes); P pan; M mark; C crop; Ctrl+S save; Escape cancel mode or hide.");
  // The keyboard sentence names every key of the desk in each language.
  const std::u16string keys[3][7] = {
      {u"+ and - zoom", u"arrow keys", u"Page Down and Page Up", u"Home and End", u"Delete remove marker",
       u"Ctrl+Z undo removal", u"Escape"},
      {u"+ y - ampliar", u"flechas", u"Av P\u00E1g y Re P\u00E1g", u"Inicio y Fin", u"Supr quitar marca",
       u"Ctrl+Z deshacer borrado", u"Escape"},
      {u"+ und - zoomen", u"Pfeiltasten", u"Bild ab und Bild auf", u"Pos1 und Ende", u"Entf Markierung l\u00F6sen",
       u"Strg+Z L\u00F6sen r\u00FCckg\u00E4ngig", u"Escape"},
  };
  for (int column = 0; column < 3; ++column) {
    const std::u16string sentence = splitParagraphs(uiText(kLanguages[column], 44))[4];
    for (const std::u16string& name : keys[column]) {
      EXPECT_NE(sentence.find(name), std::u16string::npos) << column << ": " << std::string(name.begin(), name.end());
    }
  }
  for (int id = 0; id < kUiTextCount; ++id) {
    if (id == 44) continue;
    for (const Language language : kLanguages) {
      EXPECT_EQ(uiText(language, id).find_first_of(u"\r\n"), std::u16string::npos) << id;
    }
  }
}

TEST(LanguageForTag, Table) {
  struct Case {
    std::u16string tag;
    Language expected;
  };
  const Case cases[] = {
      {u"es-MX", Language::Spanish},  {u"ES-MX", Language::Spanish},   {u"Es-419", Language::Spanish},
      {u"es", Language::Spanish},     {u"ES", Language::Spanish},      {u"es-", Language::Spanish},
      {u"de-DE", Language::German},   {u"de", Language::German},       {u"DE-at", Language::German},
      {u"en-US", Language::English},  {u"ru", Language::English},      {u"ru-RU", Language::English},
      {u"ja-JP", Language::English},  {u"esx", Language::English},     {u"es_MX", Language::English},
      {u"est", Language::English},    {u"dex", Language::English},     {u"de_DE", Language::English},
      {u"fr-FR", Language::English},  {u"", Language::English},        {u"e", Language::English},
      {u" es", Language::English},    {u"x-es", Language::English},    {u"\u0435s", Language::English},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.tag.begin(), c.tag.end()));
    EXPECT_EQ(languageForTag(c.tag), c.expected);
  }
}

TEST(LanguageForTag, OnlyTheFirstPreferenceCounts) {
  EXPECT_EQ(languageForFirstTag(std::u16string(u"fr-FR\0de-DE\0\0", 14)), Language::English);
  EXPECT_EQ(languageForFirstTag(std::u16string(u"de-DE\0es-ES\0\0", 14)), Language::German);
  EXPECT_EQ(languageForFirstTag(std::u16string(u"es-MX\0\0", 7)), Language::Spanish);
  EXPECT_EQ(languageForFirstTag(std::u16string(u"es-MX")), Language::Spanish);
  EXPECT_EQ(languageForFirstTag(std::u16string(u"\0de\0\0", 5)), Language::English);
  EXPECT_EQ(languageForFirstTag(u""), Language::English);
}

}  // namespace
}  // namespace tessary
