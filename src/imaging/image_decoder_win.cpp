#include "imaging/image_decoder_win.h"

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <new>

#include "imaging/com_support_win.h"
#include "imaging/image_format.h"
#include "imaging/sha256_win.h"

namespace tessary {
namespace {

void requireSuccess(HRESULT result) {
  if (FAILED(result)) {
    throw ImageError("Image operation failed");
  }
}

template <typename T>
HRESULT createInProcess(const CLSID& classId, const IID& interfaceId, ComPtr<T>& out) {
  return CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, interfaceId, out.putVoid());
}

// The decoder class is taken from the leading-byte table and created directly; the
// system's own format detection is never asked.
ComPtr<IWICBitmapDecoder> createDecoder(ImageFormat format) {
  ComPtr<IWICBitmapDecoder> decoder;
  HRESULT result = E_FAIL;
  switch (format) {
    case ImageFormat::Png:
      result = createInProcess(CLSID_WICPngDecoder2, IID_IWICBitmapDecoder, decoder);
      // Wine registers only the first PNG decoder class (CLSID_WICPngDecoder2 is
      // REGDB_E_CLASSNOTREG there); Windows 10 has both. Any other failure stands.
      if (result == REGDB_E_CLASSNOTREG) {
        result = createInProcess(CLSID_WICPngDecoder, IID_IWICBitmapDecoder, decoder);
      }
      break;
    case ImageFormat::Jpeg:
      result = createInProcess(CLSID_WICJpegDecoder, IID_IWICBitmapDecoder, decoder);
      break;
    case ImageFormat::Tiff:
      result = createInProcess(CLSID_WICTiffDecoder, IID_IWICBitmapDecoder, decoder);
      break;
    case ImageFormat::Bmp:
      result = createInProcess(CLSID_WICBmpDecoder, IID_IWICBitmapDecoder, decoder);
      break;
  }
  requireSuccess(result);
  return decoder;
}

}  // namespace

std::uint32_t conversionBandRows(std::uint32_t width) {
  const std::uint32_t stride = width * 4;
  return stride == 0 ? 1 : std::max<std::uint32_t>(1, kConversionBandBytes / stride);
}

std::shared_ptr<void> createDrawingBitmap(std::uint32_t width, std::uint32_t height,
                                          std::uint8_t* bgra) {
  // Gdiplus::Bitmap takes its memory from GdipAlloc (its own operator new, whose
  // failure the wrapper does not check), so the object is built in place in memory
  // that has been checked; `delete` then returns it through GdipFree.
  void* memory = Gdiplus::DllExports::GdipAlloc(sizeof(Gdiplus::Bitmap));
  if (memory == nullptr) {
    throw std::bad_alloc();
  }
  auto* bitmap = ::new (memory) Gdiplus::Bitmap(static_cast<INT>(width), static_cast<INT>(height),
                                                static_cast<INT>(width) * 4,
                                                PixelFormat32bppARGB, bgra);
  std::shared_ptr<void> owner(bitmap, [](void* p) { delete static_cast<Gdiplus::Bitmap*>(p); });
  if (bitmap->GetLastStatus() != Gdiplus::Ok) {
    throw ImageError("Image unavailable");
  }
  return owner;
}

std::shared_ptr<Pixels> decodeImage(const std::uint8_t* bytes, std::size_t count) {
  requireDecodableSize(count);
  const ImageFormat format = requireImageFormat(bytes, count);
  // Wine's PNG and JPEG decoders decode the whole image inside Initialize, before
  // the frame size can be asked for; the size written in the header is therefore
  // found and checked first, and PNG or JPEG data whose size cannot be found never
  // reaches a decoder, so that a hostile header cannot make the decoder allocate.
  requireDeclaredSizeWithinLimits(bytes, count, format);

  // The digest needs only the source bytes, which are all here: they are hashed on
  // a second thread while this one decodes. The destructor waits for that thread
  // on every path, so the bytes are never read after this function has returned.
  BackgroundDigest digest(bytes, count);

  auto pixels = std::make_shared<Pixels>();

  // Declared in the reverse of their release order: converter, frame, decoder,
  // stream, factory.
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;

  // The factory is the readiness check of the imaging component; it also makes the
  // stream over the bytes.
  requireSuccess(createInProcess(CLSID_WICImagingFactory2, IID_IWICImagingFactory, factory));

  // The decoder reads the caller's bytes where they are, through a stream over that
  // memory: a stream with its own copy would add the whole file to the load's peak
  // (the built-in plate is 137 MB). Nothing writes through it, and it is released
  // before this function returns, while the caller still holds the bytes.
  requireSuccess(factory->CreateStream(stream.put()));
  requireSuccess(stream->InitializeFromMemory(const_cast<BYTE*>(bytes), static_cast<DWORD>(count)));

  decoder = createDecoder(format);
  requireSuccess(decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnDemand));
  requireSuccess(decoder->GetFrame(0, frame.put()));
  UINT width = 0;
  UINT height = 0;
  requireSuccess(frame->GetSize(&width, &height));

  // The limits come from the frame header, before any pixel memory exists.
  requirePixelLimits(width, height);
  pixels->width = width;
  pixels->height = height;

  requireSuccess(
      createInProcess(CLSID_WICDefaultFormatConverter, IID_IWICFormatConverter, converter));
  requireSuccess(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA,
                                       WICBitmapDitherTypeNone, nullptr, 0.0,
                                       WICBitmapPaletteTypeCustom));

  const UINT stride = width * 4;
  const std::size_t bufferSize = static_cast<std::size_t>(stride) * height;  // <= 600,000,000
  // Zeroed before the converter fills it, as it always has been (PixelBytes leaves
  // new bytes unset; only the plate's parallel decode, whose workers write every
  // byte themselves, relies on that).
  pixels->bgra.resize(bufferSize, 0);
  // The converter is asked for bands of rows, each straight into its place in the
  // final buffer: asked for the whole frame at once, it would hold a second copy of
  // the whole image while it converts. The bytes are the same either way.
  const UINT bandRows = conversionBandRows(width);
  for (UINT top = 0; top < height; top += bandRows) {
    const UINT rows = std::min(bandRows, height - top);
    const WICRect band{0, static_cast<INT>(top), static_cast<INT>(width), static_cast<INT>(rows)};
    requireSuccess(converter->CopyPixels(&band, stride, stride * rows,
                                         pixels->bgra.data() + static_cast<std::size_t>(stride) * top));
  }

  pixels->sha256 = digest.take();
  pixels->bitmap = createDrawingBitmap(width, height, pixels->bgra.data());
  return pixels;
}

}  // namespace tessary
