// Fonts: a LOGFONT is served by a scalable face that fontconfig finds for its face name and that
// covers code page 1251 (for "MS Sans Serif" a sans-serif face), rendered by FreeType at the
// LOGFONT's pixel height. A positive height is the cell height (ascender plus descender), a
// negative one the character height (the em size), as Win32 reads them. Text arrives as code
// points (the narrow calls map cp1251 bytes to them through the system's CP1251 table, iconv); a
// character the face lacks is drawn as the face's missing-glyph box. Glyphs are hinted, drawn
// anti-aliased, and cached per code point with their advance.
#include "platform/posix/WindowSystem.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <iconv.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unordered_map>

namespace posixwin {

struct GlyphImage {
  bool loaded = false;
  int advance = 0;
  int left = 0;  // bitmap offset from the pen position
  int top = 0;   // bitmap top above the baseline
  int width = 0;
  int rows = 0;
  std::vector<uint8_t> coverage;
};

struct FontFace {
  FT_Face face = nullptr;
  int height = 0;
  int ascent = 0;
  std::unordered_map<uint32_t, GlyphImage> glyphs;
};

}  // namespace posixwin

namespace {

FT_Library library = nullptr;
bool unicodeReady = false;
uint32_t unicodeOf[256];

void BuildUnicodeTable() {
  if (unicodeReady) return;
  for (int b = 0; b < 256; ++b) unicodeOf[b] = b < 128 ? static_cast<uint32_t>(b) : 0;
  iconv_t converter = iconv_open("UTF-32LE", "CP1251");
  if (converter != reinterpret_cast<iconv_t>(-1)) {
    for (int b = 128; b < 256; ++b) {
      char in = static_cast<char>(b);
      unsigned char out[4] = {0, 0, 0, 0};
      char* inPointer = &in;
      char* outPointer = reinterpret_cast<char*>(out);
      size_t inLeft = 1, outLeft = 4;
      iconv(converter, nullptr, nullptr, nullptr, nullptr);
      if (iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft) != static_cast<size_t>(-1) && outLeft == 0)
        unicodeOf[b] = out[0] | (out[1] << 8) | (out[2] << 16) | (static_cast<uint32_t>(out[3]) << 24);
    }
    iconv_close(converter);
  }
  unicodeReady = true;
}

bool CoversCyrillic(FcPattern* pattern) {
  FcCharSet* charset = nullptr;
  if (FcPatternGetCharSet(pattern, FC_CHARSET, 0, &charset) != FcResultMatch) return false;
  return FcCharSetHasChar(charset, 0x0410) && FcCharSetHasChar(charset, 0x044F) && FcCharSetHasChar(charset, 0x0401);
}

// Face file for a family name; "MS Sans Serif" and unknown names fall back to sans-serif.
bool FindFaceFile(const char* family, int weight, bool italic, std::string* path, int* index) {
  if (!FcInit()) return false;
  const char* candidates[3] = {family, "sans-serif", "DejaVu Sans"};
  if (family == nullptr || *family == 0 || strcasecmp(family, "MS Sans Serif") == 0) candidates[0] = "sans-serif";
  for (const char* name : candidates) {
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name));
    FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>("ru"));
    FcPatternAddInteger(pattern, FC_WEIGHT, weight >= FW_BOLD ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (match == nullptr) continue;
    FcChar8* file = nullptr;
    int faceIndex = 0;
    bool usable = CoversCyrillic(match) && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch;
    if (usable) {
      FcPatternGetInteger(match, FC_INDEX, 0, &faceIndex);
      *path = reinterpret_cast<const char*>(file);
      *index = faceIndex;
    }
    FcPatternDestroy(match);
    if (usable) return true;
  }
  return false;
}

posixwin::GlyphImage* Glyph(posixwin::FontFace* font, uint32_t code) {
  posixwin::GlyphImage& glyph = font->glyphs[code];
  if (glyph.loaded) return &glyph;
  glyph.loaded = true;
  FT_UInt index = code == 0 ? 0 : FT_Get_Char_Index(font->face, code);
  if (FT_Load_Glyph(font->face, index, FT_LOAD_DEFAULT | FT_LOAD_TARGET_NORMAL) != 0) return &glyph;
  glyph.advance = static_cast<int>((font->face->glyph->advance.x + 32) >> 6);
  if (code < 0x20) return &glyph;  // control characters take their width but leave no ink
  if (FT_Render_Glyph(font->face->glyph, FT_RENDER_MODE_NORMAL) != 0) return &glyph;
  FT_Bitmap& bitmap = font->face->glyph->bitmap;
  glyph.left = font->face->glyph->bitmap_left;
  glyph.top = font->face->glyph->bitmap_top;
  glyph.width = static_cast<int>(bitmap.width);
  glyph.rows = static_cast<int>(bitmap.rows);
  glyph.coverage.resize(static_cast<size_t>(glyph.width) * glyph.rows);
  for (int row = 0; row < glyph.rows; ++row)
    std::memcpy(&glyph.coverage[static_cast<size_t>(row) * glyph.width], bitmap.buffer + row * bitmap.pitch,
                static_cast<size_t>(glyph.width));
  return &glyph;
}

}  // namespace

namespace posixwin {

FontFace* OpenFont(const LOGFONTA& font) {
  BuildUnicodeTable();
  if (library == nullptr && FT_Init_FreeType(&library) != 0) {
    library = nullptr;
    return nullptr;
  }
  std::string path;
  int index = 0;
  if (!FindFaceFile(font.lfFaceName, font.lfWeight, font.lfItalic != 0, &path, &index)) return nullptr;
  FT_Face face = nullptr;
  if (FT_New_Face(library, path.c_str(), index, &face) != 0) return nullptr;
  int height = font.lfHeight == 0 ? 16 : std::abs(static_cast<int>(font.lfHeight));
  FT_Size_RequestRec request;
  request.type = font.lfHeight >= 0 ? FT_SIZE_REQUEST_TYPE_REAL_DIM : FT_SIZE_REQUEST_TYPE_NOMINAL;
  request.width = 0;
  request.height = height << 6;
  request.horiResolution = 0;
  request.vertResolution = 0;
  if (FT_Request_Size(face, &request) != 0) {
    FT_Done_Face(face);
    return nullptr;
  }
  FontFace* result = new FontFace;
  result->face = face;
  int ascender = static_cast<int>((face->size->metrics.ascender + 32) >> 6);
  int descender = static_cast<int>((-face->size->metrics.descender + 32) >> 6);
  result->height = font.lfHeight > 0 ? height : ascender + descender;
  result->ascent = ascender;
  return result;
}

void CloseFont(FontFace* face) {
  if (face == nullptr) return;
  FT_Done_Face(face->face);
  delete face;
}

bool MeasureCode(FontFace* face, uint32_t code, int* advance, int* height) {
  if (face == nullptr) return false;
  *advance = Glyph(face, code)->advance;
  *height = face->height;
  return true;
}

uint32_t UnicodeOfByte(uint8_t byte) {
  BuildUnicodeTable();
  return unicodeOf[byte];
}

uint32_t DrawnCodeOfByte(uint8_t byte) {
  const uint32_t code = UnicodeOfByte(byte);
  return code == 0 && byte != 0 ? 0xFFFD : code;
}

int FontAscent(FontFace* face) { return face == nullptr ? 0 : face->ascent; }

int DrawCode(FontFace* face, uint32_t code, Canvas* canvas, int x, int y, uint32_t color) {
  GlyphImage* glyph = Glyph(face, code);
  int originX = x + glyph->left;
  int originY = y + face->ascent - glyph->top;
  uint32_t red = (color >> 16) & 0xFF, green = (color >> 8) & 0xFF, blue = color & 0xFF;
  for (int row = 0; row < glyph->rows; ++row) {
    int py = originY + row;
    if (py < 0 || py >= canvas->height) continue;
    for (int column = 0; column < glyph->width; ++column) {
      int px = originX + column;
      if (px < 0 || px >= canvas->width) continue;
      uint32_t alpha = glyph->coverage[static_cast<size_t>(row) * glyph->width + column];
      if (alpha == 0) continue;
      uint32_t& pixel = canvas->pixels[static_cast<size_t>(py) * canvas->width + px];
      uint32_t r = (((pixel >> 16) & 0xFF) * (255 - alpha) + red * alpha + 127) / 255;
      uint32_t g = (((pixel >> 8) & 0xFF) * (255 - alpha) + green * alpha + 127) / 255;
      uint32_t b = ((pixel & 0xFF) * (255 - alpha) + blue * alpha + 127) / 255;
      pixel = (r << 16) | (g << 8) | b;
    }
  }
  return glyph->advance;
}

}  // namespace posixwin
