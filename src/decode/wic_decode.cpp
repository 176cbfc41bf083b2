// PNG and JPEG on Windows through the platform's own decoders, the Windows Imaging
// Component, as the converter loads BMP files through the platform.
#include "picture_decode.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <wincodec.h>
#include <windows.h>

#include <cstdio>
#include <new>

namespace rastrom {

namespace {

// Holds one COM interface and releases it on every path.
template <typename T>
class Held {
 public:
  Held() = default;
  ~Held() {
    if (p_ != nullptr) p_->Release();
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  T** Out() { return &p_; }
  T* operator->() const { return p_; }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

// COM is entered once for the process; the programs run on one thread and exit after.
bool EnterCom() {
  static const bool entered = [] {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    return SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE;
  }();
  return entered;
}

DecodedPicture Failed(DecodedPicture& result, HRESULT hr, const char* step) {
  result.pixels.clear();
  result.pixels.shrink_to_fit();
  if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
  result.error = PictureError::kCorrupt;
  char text[96];
  std::snprintf(text, sizeof text, "%s failed (0x%08lX)", step, static_cast<unsigned long>(hr));
  result.detail = text;
  return std::move(result);
}

DecodedPicture Decode(std::span<const std::uint8_t> file, const GUID& container,
                      std::uint32_t background, std::size_t maxBytes) {
  DecodedPicture result;
  if (!EnterCom()) return Failed(result, E_FAIL, "starting COM");
  if (file.size() > 0xFFFFFFFFu) return Failed(result, E_INVALIDARG, "reading the file");
  Held<IWICImagingFactory> factory;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(factory.Out()));
  if (FAILED(hr)) return Failed(result, hr, "starting the Windows Imaging Component");
  Held<IWICStream> stream;
  hr = factory->CreateStream(stream.Out());
  if (SUCCEEDED(hr)) {
    hr = stream->InitializeFromMemory(const_cast<BYTE*>(file.data()),
                                      static_cast<DWORD>(file.size()));
  }
  if (FAILED(hr)) return Failed(result, hr, "reading the file");
  Held<IWICBitmapDecoder> decoder;
  hr = factory->CreateDecoder(container, nullptr, decoder.Out());
  if (SUCCEEDED(hr)) hr = decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnDemand);
  Held<IWICBitmapFrameDecode> frame;
  if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, frame.Out());
  UINT width = 0, height = 0;
  if (SUCCEEDED(hr)) hr = frame->GetSize(&width, &height);
  if (FAILED(hr)) return Failed(result, hr, "decoding");

  result.width = width;
  result.height = height;
  if (!PictureFits(width, height, maxBytes)) {
    result.error = PictureError::kTooLarge;
    return result;
  }
  WICPixelFormatGUID format{};
  hr = frame->GetPixelFormat(&format);
  if (FAILED(hr)) return Failed(result, hr, "decoding");
  if (IsEqualGUID(format, GUID_WICPixelFormat32bppCMYK) ||
      IsEqualGUID(format, GUID_WICPixelFormat64bppCMYK)) {
    result.error = PictureError::kUnsupported;
    result.detail = "a CMYK JPEG; only grey and colour (YCbCr or RGB) JPEGs are read";
    return result;
  }
  Held<IWICFormatConverter> converter;
  hr = factory->CreateFormatConverter(converter.Out());
  if (SUCCEEDED(hr)) {
    hr = converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                               nullptr, 0.0, WICBitmapPaletteTypeCustom);
  }
  if (FAILED(hr)) return Failed(result, hr, "converting the pixels");
  const UINT stride = 4 * width;
  result.pixels.resize(std::size_t{stride} * height);
  hr = converter->CopyPixels(nullptr, stride, static_cast<UINT>(result.pixels.size()),
                             result.pixels.data());
  if (FAILED(hr)) return Failed(result, hr, "decoding the pixels");
  CompositeOver(result.pixels, false, background);
  return result;
}

}  // namespace

bool CanDecodePng() { return true; }
bool CanDecodeJpeg() { return true; }

DecodedPicture DecodePng(std::span<const std::uint8_t> file, std::uint32_t background,
                         std::size_t maxBytes) {
  return Decode(file, GUID_ContainerFormatPng, background, maxBytes);
}

DecodedPicture DecodeJpeg(std::span<const std::uint8_t> file, std::size_t maxBytes) {
  return Decode(file, GUID_ContainerFormatJpeg, 0, maxBytes);
}

}  // namespace rastrom
