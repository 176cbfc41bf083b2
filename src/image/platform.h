// The four image operations the loader needs from the platform, and its BITMAP record.
// On Windows they are USER32's and GDI32's own; elsewhere the project's stand-in
// supplies them, backed by its BMP decoder, and every bitmap it loads is 32 bits, 1 plane.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else

#include <cstdint>

typedef std::int32_t LONG;
typedef std::uint16_t WORD;
typedef std::uint32_t UINT;
typedef int BOOL;
typedef void* LPVOID;
typedef void* HANDLE;
typedef void* HINSTANCE;
typedef void* HGDIOBJ;
typedef struct StandInBitmap* HBITMAP;

// The description of a bitmap, laid out as the platform's record.
typedef struct tagBITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
} BITMAP;

constexpr UINT IMAGE_BITMAP = 0;
constexpr UINT LR_LOADFROMFILE = 0x0010;

// Loads a BMP file as a 32-bit bitmap; returns null when the file cannot be read or
// is refused by the decoder. Only IMAGE_BITMAP with LR_LOADFROMFILE is supported.
HANDLE LoadImageA(HINSTANCE instance, const char* name, UINT type, int cx, int cy, UINT flags);
// Fills the bitmap's description; returns the bytes written, or 0 on failure.
int GetObjectA(HANDLE object, int size, LPVOID buffer);
// Copies the first `bytes` bytes of the bitmap's bits; returns the bytes copied, or 0.
LONG GetBitmapBits(HBITMAP bitmap, LONG bytes, LPVOID bits);
// Releases a bitmap made by LoadImageA.
BOOL DeleteObject(HGDIOBJ object);

// The stand-in's one addition: decodes `rows` rows of the bitmap's bits, from row `firstRow`
// counted from the top, into `bits` (4 x width bytes a row), so a picture can be converted a
// band at a time without ever being in memory whole. Returns `rows`, or 0 when the file no
// longer holds them. Declared weak: where it is missing (a test's fake of the platform), the
// loader copies the whole bits with GetBitmapBits instead.
__attribute__((weak)) LONG GetBitmapRows(HBITMAP bitmap, LONG firstRow, LONG rows, LPVOID bits);

#endif
