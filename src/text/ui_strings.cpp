#include "text/ui_strings.h"

#include <array>
#include <stdexcept>

namespace tessary {

namespace {

using Row = std::array<std::u16string, 3>;  // English, Spanish, German

// Every text the interface shows. Row = string id, column = language.
const std::array<Row, kUiTextCount>& table() {
  static const std::array<Row, kUiTextCount> rows{{
      {u"KORVANEL / IMAGE STUDIES", u"KORVANEL / ESTUDIO DE IMÁGENES", u"KORVANEL / BILDSTUDIEN"},
      {u"Sky plate", u"Imagen del cielo", u"Himmelsaufnahme"},
      {u"Open image", u"Abrir imagen", u"Bild öffnen"},
      {u"Drop an image here, or paste its full local file path", u"Arrastra una imagen o pega su ruta local completa", u"Bild ablegen oder vollständigen lokalen Pfad einfügen"},
      {u"Guide & credits", u"Guía y créditos", u"Hilfe und Nachweise"},
      {u"Fit", u"Ajustar", u"Einpassen"},
      {u"100% pixels", u"Píxeles al 100%", u"100% Pixel"},
      {u"Pan", u"Mover", u"Bewegen"},
      {u"Add marker", u"Añadir marca", u"Markierung"},
      {u"Select crop", u"Elegir recorte", u"Ausschnitt"},
      {u"Export crop PNG", u"Exportar PNG", u"PNG exportieren"},
      {u"Export notes", u"Exportar notas", u"Notizen exportieren"},
      {u"Export folder", u"Carpeta de exportación", u"Exportordner"},
      {u"Save note", u"Guardar nota", u"Notiz speichern"},
      {u"Remove marker", u"Quitar marca", u"Markierung lösen"},
      {u"Undo removal", u"Deshacer borrado", u"Lösen rückgängig"},
      {u"Close", u"Cerrar", u"Schließen"},
      {u"Quit Tessary", u"Salir de Tessary", u"Tessary beenden"},
      {u"Open Tessary", u"Abrir Tessary", u"Tessary öffnen"},
      {u"OBSERVATIONS", u"OBSERVACIONES", u"BEOBACHTUNGEN"},
      {u"FIELD NOTE", u"NOTA DE CAMPO", u"FELDNOTIZ"},
      {u"Describe the feature or write a question.", u"Describe el detalle o escribe una pregunta.", u"Beschreibe das Detail oder stelle eine Frage."},
      {u"Mark a detail worth returning to.", u"Marca un detalle para volver a él.", u"Markiere ein Detail zum Wiederfinden."},
      {u"Wheel: zoom  /  Drag: pan  /  M: marker  /  C: crop  /  F: fit", u"Rueda: zoom  /  Arrastrar: mover  /  M: marca  /  C: recorte  /  F: ajustar", u"Mausrad: Zoom  /  Ziehen: bewegen  /  M: Marke  /  C: Ausschnitt  /  F: einpassen"},
      {u"Decoding image in memory...", u"Decodificando imagen en memoria...", u"Bild wird im Speicher dekodiert..."},
      {u"Ready. Fully offline and silent.", u"Listo. Sin conexión y sin sonidos.", u"Bereit. Vollständig offline und lautlos."},
      {u"Cannot open this image. Use PNG, JPEG, BMP or TIFF, at most 200 MiB and 150 megapixels. The previous image is retained.", u"No se pudo abrir. Usa PNG, JPEG, BMP o TIFF, hasta 200 MiB y 150 megapíxeles. Se conserva la imagen anterior.", u"Bild nicht lesbar. PNG, JPEG, BMP oder TIFF bis 200 MiB und 150 Megapixel verwenden. Das vorherige Bild bleibt erhalten."},
      {u"Could not save. Changes remain in memory. Retry Save note before closing or switching images.", u"No se pudo guardar. Los cambios siguen en memoria. Reintenta antes de cerrar o cambiar de imagen.", u"Speichern fehlgeschlagen. Änderungen bleiben im Speicher. Vor dem Schließen oder Bildwechsel erneut speichern."},
      {u"Text is not supported. Use the enabled languages.", u"Texto no compatible. Usa los idiomas habilitados.", u"Text nicht unterstützt. Bitte eine unterstützte Sprache verwenden."},
      {u"Saved locally", u"Guardado localmente", u"Lokal gespeichert"},
      {u"Click a point inside the image to add an observation.", u"Haz clic dentro de la imagen para añadir una observación.", u"Für eine Beobachtung auf einen Punkt im Bild klicken."},
      {u"Drag across the image to select a crop. Exports use original pixels.", u"Arrastra sobre la imagen para recortar. Se exportan los píxeles originales.", u"Ausschnitt im Bild aufziehen. Exportiert werden Originalpixel."},
      {u"Export completed. Use Export folder to find your files.", u"Exportación lista. Abre la carpeta de exportación.", u"Export abgeschlossen. Dateien liegen im Exportordner."},
      {u"Export failed. Check free space and folder permissions; the source image is unchanged.", u"Error al exportar. Revisa el espacio y los permisos; la imagen original no cambió.", u"Export fehlgeschlagen. Speicherplatz und Ordnerrechte prüfen; das Original bleibt unverändert."},
      {u"Select a crop inside the image first.", u"Selecciona primero un recorte dentro de la imagen.", u"Zuerst einen Ausschnitt im Bild auswählen."},
      {u"Choose a smaller crop: the export limit is 25 megapixels.", u"Elige un recorte menor: el límite es de 25 megapíxeles.", u"Kleineren Ausschnitt wählen: Exportgrenze 25 Megapixel."},
      {u"This image has reached its 200-marker limit.", u"Esta imagen alcanzó el límite de 200 marcas.", u"Die Grenze von 200 Markierungen pro Bild ist erreicht."},
      {u"Select an observation to edit its note.", u"Selecciona una observación para editar la nota.", u"Eine Beobachtung zum Bearbeiten auswählen."},
      {u"Marker removed. Undo removal is available.", u"Marca eliminada. Puedes deshacer el borrado.", u"Markierung gelöst. Rückgängig ist verfügbar."},
      {u"Marker restored", u"Marca restaurada", u"Markierung wiederhergestellt"},
      {u"Previous observation backup recovered. Damaged data was preserved.", u"Se recuperó la copia anterior. Se conservaron los datos dañados.", u"Vorherige Sicherung geladen. Beschädigte Daten wurden aufbewahrt."},
      {u"Observation data could not be read. Original files are preserved; a separate recovery sheet is active.", u"No se pudieron leer las notas. Se conservan los originales; hay una hoja de recuperación.", u"Beobachtungen nicht lesbar. Originaldateien bleiben erhalten; ein Wiederherstellungsblatt ist geöffnet."},
      {u"Local image", u"Imagen local", u"Lokales Bild"},
      {u"A closer look, with context.", u"Una mirada más cercana.", u"Genauer hinsehen, mit Kontext."},
      // 44: the guide, six paragraphs separated by an empty line
      {u"Tessary is the independent image-study companion to Korvanel. It opens PNG, JPEG, BMP and TIFF (first frame only), up to 200 MiB and 150 megapixels. Each side is limited to 20,000 pixels. Local fixed/removable drives only; network paths are rejected. Images use their stored pixel orientation.\r\n\r\n"
       u"Drag the image to pan, scroll to zoom, or choose 100% pixels. Add marker places a numbered observation at an original-image coordinate. Notes autosave. Selecting a marker recenters the view. Remove marker can be undone.\r\n\r\n"
       u"Select crop draws a rectangle. Export crop PNG writes the original pixels without marker overlays, plus a JSON record with the image hash and crop coordinates. Crops are limited to 25 megapixels. Export notes writes a JSON sheet and a CSV table. Source images are never modified.\r\n\r\n"
       u"All data is local and unencrypted. Notes are matched by the SHA-256 of the image bytes; changed images receive a separate sheet. Closing keeps the app in the tray. Quit exits. There are no network requests, accounts, startup entries, telemetry, audio files or sound effects. The sky plate is embedded at full resolution and works offline. Allow about 2 GB of free memory while opening large images.\r\n\r\n"
       u"English, Spanish and German follow Windows; other interface languages use English. Local timestamps follow Windows date/time and time-zone preferences. All controls and errors are silent. Keyboard: F fit; 1 actual pixels; + and - zoom; arrow keys move the view (Shift: half the canvas); Page Down and Page Up next and previous marker; Home and End first and last marker; Delete remove marker; Ctrl+Z undo removal (outside the text boxes); P pan; M mark; C crop; Ctrl+S save; Escape cancel mode or hide.\r\n\r\n"
       u"Credits and licenses follow below.",
       u"Tessary es el complemento independiente de Korvanel para estudiar imágenes. Admite PNG, JPEG, BMP y TIFF (solo el primer fotograma), hasta 200 MiB, 150 megapíxeles y 20.000 píxeles por lado. Solo unidades locales o extraíbles; las rutas de red se rechazan. Se usa la orientación almacenada.\r\n\r\n"
       u"Arrastra para mover, usa la rueda para ampliar o elige Píxeles al 100%. Añadir marca coloca una observación en una coordenada original. Las notas se guardan automáticamente. Elegir una marca centra la vista. Quitar marca se puede deshacer.\r\n\r\n"
       u"Elegir recorte dibuja un rectángulo. Exportar PNG guarda los píxeles originales sin marcas y un JSON con hash y coordenadas. Límite: 25 megapíxeles. Exportar notas crea JSON y CSV. Los originales nunca se modifican.\r\n\r\n"
       u"Los datos son locales y no están cifrados. Las notas se asocian mediante SHA-256; una imagen modificada obtiene otra hoja. Cerrar mantiene la aplicación en la bandeja. Salir la detiene. Sin conexiones, cuentas, inicio automático, telemetría ni sonidos. La imagen del cielo está integrada a resolución completa. Reserva unos 2 GB de memoria libre para imágenes grandes.\r\n\r\n"
       u"Inglés, español y alemán siguen Windows; los demás idiomas usan inglés. Fecha, hora y zona horaria siguen Windows. Todo funciona en silencio. Teclas: F ajustar; 1 píxeles reales; + y - ampliar o reducir; flechas mover la vista (Mayús: media vista); Av Pág y Re Pág marca siguiente y anterior; Inicio y Fin primera y última marca; Supr quitar marca; Ctrl+Z deshacer borrado (fuera de los cuadros de texto); P mover; M marca; C recorte; Ctrl+S guardar; Escape cancelar u ocultar.\r\n\r\n"
       u"Créditos y licencias a continuación.",
       u"Tessary ist Korvanels eigenständiger Begleiter für Bildstudien. PNG, JPEG, BMP und TIFF (nur erstes Bild) bis 200 MiB, 150 Megapixel und 20.000 Pixel je Seite werden unterstützt. Nur lokale oder wechselbare Laufwerke; Netzwerkpfade werden abgewiesen. Es gilt die gespeicherte Pixelausrichtung.\r\n\r\n"
       u"Ziehen bewegt das Bild, das Mausrad zoomt. 100% Pixel zeigt Originalpixel. Markierung setzt eine nummerierte Beobachtung an eine Bildkoordinate. Notizen speichern automatisch. Auswahl einer Marke zentriert die Ansicht. Lösen einer Marke kann rückgängig gemacht werden.\r\n\r\n"
       u"Ausschnitt zieht ein Rechteck auf. PNG exportieren speichert Originalpixel ohne Markierungen und eine JSON-Datei mit Bildhash und Koordinaten. Grenze: 25 Megapixel. Notizen exportieren erstellt JSON und CSV. Originalbilder bleiben unverändert.\r\n\r\n"
       u"Daten bleiben lokal und unverschlüsselt. Notizen werden über den SHA-256-Bildhash zugeordnet; geänderte Bilder erhalten ein neues Blatt. Schließen lässt die App im Infobereich laufen. Beenden stoppt sie. Keine Netzabfragen, Konten, Autostart-Einträge, Telemetrie oder Töne. Die Himmelsaufnahme ist in voller Auflösung eingebettet. Für große Bilder etwa 2 GB freien Speicher einplanen.\r\n\r\n"
       u"Englisch, Spanisch und Deutsch folgen Windows; sonst wird Englisch verwendet. Datum, Uhrzeit und Zeitzone folgen Windows. Alle Aktionen sind lautlos. Tasten: F einpassen; 1 Originalpixel; + und - zoomen; Pfeiltasten verschieben die Ansicht (Umschalt: halbe Ansicht); Bild ab und Bild auf nächste und vorige Marke; Pos1 und Ende erste und letzte Marke; Entf Markierung lösen; Strg+Z Lösen rückgängig (außerhalb der Textfelder); P bewegen; M Marke; C Ausschnitt; Strg+S speichern; Escape abbrechen oder ausblenden.\r\n\r\n"
       u"Nachweise und Lizenzen folgen unten."},
      {u"Copy", u"Copiar", u"Kopieren"},
      {u"Cut", u"Cortar", u"Ausschneiden"},
      {u"Paste", u"Pegar", u"Einfügen"},
      {u"Select all", u"Seleccionar todo", u"Alles auswählen"},
      {u"Unsaved changes", u"Cambios sin guardar", u"Ungespeicherte Änderungen"},
      {u"First frame / stored pixels", u"Primer fotograma / píxeles originales", u"Erstes Bild / gespeicherte Pixel"},
      {u"OFFLINE · SILENT", u"SIN CONEXIÓN · SIN SONIDO", u"OFFLINE · LAUTLOS"},
      {u"Cancel", u"Cancelar", u"Abbrechen"},
      {u"Use an absolute path on a local drive, or drop one image into the window.", u"Usa una ruta absoluta local o arrastra una imagen a la ventana.", u"Absoluten lokalen Pfad verwenden oder ein Bild ins Fenster ziehen."},
      {u"Zoom in", u"Ampliar", u"Vergrößern"},
      {u"Zoom out", u"Reducir", u"Verkleinern"},
  }};
  return rows;
}

char16_t lowerAscii(char16_t unit) {
  return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

// True when the lower-cased tag is exactly `language` or starts with it and a hyphen.
bool tagNamesLanguage(std::u16string_view lowered, std::u16string_view language) {
  if (lowered.size() < language.size() || lowered.substr(0, language.size()) != language) return false;
  return lowered.size() == language.size() || lowered[language.size()] == u'-';
}

}  // namespace

const std::u16string& uiText(Language language, int id) {
  const int column = static_cast<int>(language);
  if (id < 0 || id >= kUiTextCount || column < 0 || column > 2) {
    throw std::out_of_range("Unknown interface string");
  }
  return table()[static_cast<std::size_t>(id)][static_cast<std::size_t>(column)];
}

// Lower-casing only ASCII letters keeps the rule independent of any locale; no
// other character can turn into the letters that name Spanish or German.
Language languageForTag(std::u16string_view tag) {
  std::u16string lowered(tag);
  for (char16_t& unit : lowered) unit = lowerAscii(unit);
  if (tagNamesLanguage(lowered, u"es")) return Language::Spanish;
  if (tagNamesLanguage(lowered, u"de")) return Language::German;
  return Language::English;
}

Language languageForFirstTag(std::u16string_view tagList) {
  const std::size_t end = tagList.find(u'\0');
  return languageForTag(tagList.substr(0, end));
}

}  // namespace tessary
