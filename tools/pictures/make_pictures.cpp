// make_pictures: draws the panel's background pictures (800 x 480, 8-bit RGBA PNG) from
// code, so that they follow the geometry the display loop uses and can be rebuilt at any
// time. Usage: make_pictures OUTDIR SANS.ttf SANS-BOLD.ttf
//
// Meter faces: centres (210, 260) and (590, 260). The display loop puts the needle of a
// value v on a scale of n steps at theta = (0.24 - v * 0.48 / n) * 3.141692653 from
// straight up, its tip at x = cx - 200 sin theta + 15 cos(theta + pi/2),
// y = cy - 200 cos theta + 15 sin(theta + pi/2), that is (cx - 215 sin theta,
// cy - 185 cos theta). The scale marks lie on radius 200 in the direction of that tip, so
// the needle points exactly at them: on theta alone, the needle at rest would pass 4
// degrees (15 pixels on the arc) beside the 0 mark.
// Rows from 365 down are left plain for the key bar, notices and error boxes.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 480;
// The display loop's own value of pi, so the scale marks sit under the needle.
constexpr double kLoopPi = 3.141692653;
constexpr double kRadius = 200;

struct Colour {
  float r, g, b;
};
constexpr Colour rgb(int r, int g, int b) { return {float(r) / 255.0f, float(g) / 255.0f, float(b) / 255.0f}; }
Colour mix(Colour a, Colour b, float t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// Palette: a dark instrument panel, warm meter faces, orange accents like the key labels.
constexpr Colour kPanelTop = rgb(27, 31, 37);
constexpr Colour kPanelBottom = rgb(13, 15, 18);
constexpr Colour kStrip = rgb(9, 10, 12);
constexpr Colour kRule = rgb(52, 58, 67);
constexpr Colour kFaceTop = rgb(244, 239, 222);
constexpr Colour kFaceBottom = rgb(226, 218, 194);
constexpr Colour kBezel = rgb(6, 7, 8);
constexpr Colour kInk = rgb(22, 22, 24);
constexpr Colour kFaint = rgb(110, 104, 92);
constexpr Colour kRed = rgb(196, 38, 30);
constexpr Colour kAmber = rgb(222, 150, 30);
constexpr Colour kGreen = rgb(60, 140, 70);
constexpr Colour kOrange = rgb(250, 150, 0);
constexpr Colour kSteel = rgb(205, 212, 222);
constexpr Colour kMuted = rgb(128, 136, 148);

class Canvas {
 public:
  Canvas() : pixels_(size_t{kWidth} * kHeight, kPanelBottom) {}

  void blend(int x, int y, Colour c, float alpha) {
    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight || alpha <= 0) return;
    Colour& p = pixels_[size_t(y) * kWidth + x];
    p = mix(p, c, std::min(alpha, 1.0f));
  }

  void verticalGradient(int y0, int y1, Colour top, Colour bottom) {
    for (int y = y0; y < y1; ++y) {
      const float t = float(y - y0) / float(std::max(1, y1 - y0 - 1));
      for (int x = 0; x < kWidth; ++x) blend(x, y, mix(top, bottom, t), 1);
    }
  }

  // Shapes are drawn with coverage from a signed distance (negative inside), which
  // gives one pixel of antialiasing at every edge.
  template <typename Distance>
  void shape(int x0, int y0, int x1, int y1, Distance distance, Colour c, float alpha = 1) {
    for (int y = std::max(0, y0); y <= std::min(kHeight - 1, y1); ++y) {
      for (int x = std::max(0, x0); x <= std::min(kWidth - 1, x1); ++x) {
        const float d = distance(float(x) + 0.5f, float(y) + 0.5f);
        blend(x, y, c, alpha * std::clamp(0.5f - d, 0.0f, 1.0f));
      }
    }
  }

  void roundRect(float x0, float y0, float x1, float y1, float radius, Colour c,
                 float alpha = 1) {
    const float cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
    const float hx = (x1 - x0) / 2 - radius, hy = (y1 - y0) / 2 - radius;
    shape(int(x0) - 1, int(y0) - 1, int(x1) + 1, int(y1) + 1,
          [=](float x, float y) {
            const float qx = std::abs(x - cx) - hx, qy = std::abs(y - cy) - hy;
            const float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
            return outside + std::min(std::max(qx, qy), 0.0f) - radius;
          },
          c, alpha);
  }

  // A face filled with a vertical gradient inside a rounded rectangle.
  void roundRectGradient(float x0, float y0, float x1, float y1, float radius, Colour top,
                         Colour bottom) {
    for (int y = int(y0); y <= int(y1); ++y) {
      const Colour c = mix(top, bottom, (float(y) - y0) / (y1 - y0));
      Canvas::Clip clip{int(y), int(y)};
      roundRectRows(x0, y0, x1, y1, radius, c, clip);
    }
  }

  void line(float x0, float y0, float x1, float y1, float width, Colour c, float alpha = 1) {
    const float pad = width + 2;
    shape(int(std::min(x0, x1) - pad), int(std::min(y0, y1) - pad), int(std::max(x0, x1) + pad),
          int(std::max(y0, y1) + pad),
          [=](float x, float y) {
            const float dx = x1 - x0, dy = y1 - y0;
            const float len2 = dx * dx + dy * dy;
            const float t = len2 > 0 ? std::clamp(((x - x0) * dx + (y - y0) * dy) / len2, 0.0f, 1.0f) : 0;
            return std::hypot(x - (x0 + t * dx), y - (y0 + t * dy)) - width / 2;
          },
          c, alpha);
  }

  void disc(float cx, float cy, float radius, Colour c, float alpha = 1) {
    shape(int(cx - radius - 2), int(cy - radius - 2), int(cx + radius + 2), int(cy + radius + 2),
          [=](float x, float y) { return std::hypot(x - cx, y - cy) - radius; }, c, alpha);
  }

  // A band between two radii over the angles of the meter's convention (theta from
  // straight up, positive to the left), thetaHigh > thetaLow.
  void arcBand(float cx, float cy, float r0, float r1, double thetaLow, double thetaHigh,
               Colour c, float alpha = 1) {
    shape(int(cx - r1 - 2), int(cy - r1 - 2), int(cx + r1 + 2), int(cy + 2),
          [=](float x, float y) {
            const float r = std::hypot(x - cx, y - cy);
            const float radial = std::max(r0 - r, r - r1);
            const double theta = std::atan2(cx - x, cy - y);
            const float angular = float(std::max(thetaLow - theta, theta - thetaHigh) * r);
            return std::max(radial, angular);
          },
          c, alpha);
  }

  const std::vector<Colour>& pixels() const { return pixels_; }

 private:
  struct Clip {
    int y0, y1;
  };
  void roundRectRows(float x0, float y0, float x1, float y1, float radius, Colour c, Clip clip) {
    const float cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
    const float hx = (x1 - x0) / 2 - radius, hy = (y1 - y0) / 2 - radius;
    shape(int(x0) - 1, clip.y0, int(x1) + 1, clip.y1,
          [=](float x, float y) {
            const float qx = std::abs(x - cx) - hx, qy = std::abs(y - cy) - hy;
            const float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
            return outside + std::min(std::max(qx, qy), 0.0f) - radius;
          },
          c);
  }

  std::vector<Colour> pixels_;
};

class Font {
 public:
  Font(FT_Library library, const std::string& file) {
    if (FT_New_Face(library, file.c_str(), 0, &face_) != 0) face_ = nullptr;
  }
  ~Font() {
    if (face_ != nullptr) FT_Done_Face(face_);
  }
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;
  bool ok() const { return face_ != nullptr; }

  enum class Align { Left, Centre, Right };

  float width(const std::string& text, int size, float spacing = 0) {
    FT_Set_Pixel_Sizes(face_, 0, FT_UInt(size));
    float w = 0;
    int n = 0;
    forEach(text, [&](unsigned code) {
      if (FT_Load_Char(face_, code, FT_LOAD_DEFAULT) == 0) w += float(face_->glyph->advance.x) / 64.0f;
      ++n;
    });
    return w + spacing * float(std::max(0, n - 1));
  }

  // Draws text with its baseline at y.
  void draw(Canvas& canvas, const std::string& text, float x, float y, int size, Colour c,
            Align align = Align::Left, float spacing = 0, float alpha = 1) {
    const float w = width(text, size, spacing);
    float pen = align == Align::Left ? x : align == Align::Centre ? x - w / 2 : x - w;
    FT_Set_Pixel_Sizes(face_, 0, FT_UInt(size));
    forEach(text, [&](unsigned code) {
      if (FT_Load_Char(face_, code, FT_LOAD_RENDER) != 0) return;
      const FT_GlyphSlot g = face_->glyph;
      const int left = int(std::lround(pen)) + g->bitmap_left;
      const int top = int(std::lround(y)) - g->bitmap_top;
      for (unsigned r = 0; r < g->bitmap.rows; ++r) {
        for (unsigned col = 0; col < g->bitmap.width; ++col) {
          const float a = g->bitmap.buffer[r * unsigned(g->bitmap.pitch) + col] / 255.0f;
          canvas.blend(left + int(col), top + int(r), c, a * alpha);
        }
      }
      pen += float(g->advance.x) / 64.0f + spacing;
    });
  }

 private:
  // UTF-8 to code points; the labels here are well-formed.
  template <typename F>
  static void forEach(const std::string& text, F f) {
    for (size_t i = 0; i < text.size();) {
      const unsigned char b = static_cast<unsigned char>(text[i]);
      unsigned code = b;
      size_t n = 1;
      if (b >= 0xF0) code = b & 0x07u, n = 4;
      else if (b >= 0xE0) code = b & 0x0Fu, n = 3;
      else if (b >= 0xC0) code = b & 0x1Fu, n = 2;
      for (size_t k = 1; k < n && i + k < text.size(); ++k) {
        code = code << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
      }
      f(code);
      i += n;
    }
  }

  FT_Face face_ = nullptr;
};

struct Fonts {
  Font& sans;
  Font& bold;
};

// ----- the meters -----------------------------------------------------------------

// The angle (from straight up, positive to the left) of the needle's tip for a value.
double needleAngle(double v, double steps) {
  const double theta = (0.24 - v * 0.48 / steps) * kLoopPi;
  return std::atan2(215 * std::sin(theta), 185 * std::cos(theta));
}

struct Point {
  float x, y;
};
Point onScale(float cx, float cy, double theta, double radius) {
  return {float(cx - radius * std::sin(theta)), float(cy - radius * std::cos(theta))};
}

struct Mark {
  double position;    // on the scale of `steps`
  const char* label;  // nullptr: a minor mark
};

struct Zone {
  double from, to;  // positions on the scale
  Colour colour;
};

struct Scale {
  double steps;
  std::vector<Mark> marks;
  std::vector<Zone> zones;
  const char* unit;
  const char* legend;
};

constexpr float kFaceTopY = 28;
constexpr float kFaceBottomY = 272;

void meterFace(Canvas& canvas, Fonts& fonts, float cx, float cy, const Scale& scale) {
  const float x0 = cx - 186, x1 = cx + 186;
  // Bezel, a thin light edge, then the face.
  canvas.roundRect(x0 - 3, kFaceTopY - 3, x1 + 3, kFaceBottomY + 3, 11, kBezel);
  canvas.roundRect(x0 - 1, kFaceTopY - 1, x1 + 1, kFaceBottomY + 1, 9, rgb(90, 86, 76));
  canvas.roundRectGradient(x0, kFaceTopY, x1, kFaceBottomY, 8, kFaceTop, kFaceBottom);

  // Coloured zones just inside the scale arc.
  for (const Zone& zone : scale.zones) {
    canvas.arcBand(cx, cy, float(kRadius - 11), float(kRadius - 3),
                   needleAngle(zone.to, scale.steps), needleAngle(zone.from, scale.steps),
                   zone.colour, 0.9f);
  }
  // The scale arc, from the first to the last position.
  const double start = needleAngle(0, scale.steps);
  const double end = needleAngle(scale.steps, scale.steps);
  canvas.arcBand(cx, cy, float(kRadius - 1), float(kRadius + 1), end - 0.004, start + 0.004, kInk);

  for (const Mark& mark : scale.marks) {
    const double theta = needleAngle(mark.position, scale.steps);
    const bool major = mark.label != nullptr;
    const Point inner = onScale(cx, cy, theta, kRadius - (major ? 3 : 0));
    const Point outer = onScale(cx, cy, theta, kRadius + (major ? 12 : 7));
    canvas.line(inner.x, inner.y, outer.x, outer.y, major ? 2.4f : 1.3f, kInk);
    if (major && mark.label[0] != '\0') {
      const Point at = onScale(cx, cy, theta, kRadius + 24);
      fonts.sans.draw(canvas, mark.label, at.x, at.y + 6, 15, kInk, Font::Align::Centre);
    }
  }
  // Unit inside the arc and the maker's mark low on the face, clear of the caption
  // and value that the display loop writes at (cx - 55 ... cx + 60, 140 ... 185).
  fonts.bold.draw(canvas, scale.unit, cx, 112, 18, kFaint, Font::Align::Centre);
  fonts.sans.draw(canvas, scale.legend, cx + 172, kFaceBottomY - 10, 11, kFaint,
                  Font::Align::Right, 1.5f);
  fonts.bold.draw(canvas, "CORVID", x0 + 14, kFaceBottomY - 10, 11, kFaint, Font::Align::Left,
                  2.5f);
  // The needle pivot.
  canvas.disc(cx, cy, 11, rgb(40, 40, 42));
  canvas.disc(cx, cy, 5, rgb(95, 95, 98));
}

Scale powerScale(int fullScale, const char* legend) {
  Scale s{double(fullScale), {}, {}, "W", legend};
  const int major = fullScale <= 60 ? 10 : 20;
  const int minor = fullScale <= 60 ? 2 : 4;
  static std::vector<std::string> labels;  // keeps the label texts alive
  labels.reserve(64);
  for (int v = 0; v <= fullScale; v += minor) {
    if (v % major == 0) {
      labels.push_back(std::to_string(v));
      s.marks.push_back({double(v), labels.back().c_str()});
    } else {
      s.marks.push_back({double(v), nullptr});
    }
  }
  return s;
}

// Reflected power: amber above 10 W, red above 20 W.
Scale reflectedScale() {
  Scale s = powerScale(60, "REFLECTED POWER");
  s.zones = {{10, 20, kAmber}, {20, 60, kRed}};
  return s;
}

Scale forwardScale(int fullScale) {
  return powerScale(fullScale, "FORWARD POWER");
}

// SWR on the positions of the display loop's conversion table (60 steps).
Scale swrScale() {
  Scale s{60, {}, {}, "SWR", "STANDING WAVE RATIO"};
  s.marks = {{0, "1"},  {11, "1.5"}, {20, "2"},    {30, "3"},    {36, "4"},  {40, "5"},
             {43, nullptr}, {45, nullptr}, {47, nullptr}, {48, nullptr}, {50, "10"},
             {60, "\xE2\x88\x9E"}};
  // Halfway marks between the table's first points.
  for (double p : {5.5, 15.5, 25.0}) s.marks.push_back({p, nullptr});
  s.zones = {{0, 20, kGreen}, {20, 30, kAmber}, {30, 60, kRed}};
  return s;
}

// ----- the screens ------------------------------------------------------------------

void panelBackground(Canvas& canvas) {
  canvas.verticalGradient(0, kHeight, kPanelTop, kPanelBottom);
  // The top strip carries the LAN and clock line.
  for (int y = 0; y < 24; ++y) {
    for (int x = 0; x < kWidth; ++x) canvas.blend(x, y, kStrip, 1);
  }
  canvas.line(0, 24.5f, kWidth, 24.5f, 1, kRule);
}

void meters(Canvas& canvas, Fonts& fonts, const Scale& left, const Scale& right) {
  panelBackground(canvas);
  fonts.bold.draw(canvas, "CORVID", 14, 17, 12, kMuted, Font::Align::Left, 3);
  meterFace(canvas, fonts, 210, 260, left);
  meterFace(canvas, fonts, 590, 260, right);
}

void statusPage(Canvas& canvas, Fonts& fonts, bool withTitle) {
  panelBackground(canvas);
  fonts.bold.draw(canvas, "CORVID", 14, 17, 12, kMuted, Font::Align::Left, 3);
  if (withTitle) {
    // The status page: headings at x 5, values at x 180, rows 110 to 352.
    fonts.bold.draw(canvas, "UNIT STATUS", 400, 66, 20, kSteel, Font::Align::Centre, 4);
    canvas.roundRect(2, 88, 797, 362, 8, rgb(20, 23, 28));
    canvas.roundRect(2, 88, 797, 89, 0, kRule);
    canvas.line(172.5f, 94, 172.5f, 356, 1, kRule);
  } else {
    // Table pages: title near y 50, rows from y 100 to about 395.
    canvas.roundRect(20, 70, 780, 400, 8, rgb(20, 23, 28));
  }
}

// The spectrum's plot well; DrawGrid draws the grid lines and labels over it.
void spectrumPage(Canvas& canvas, Fonts& fonts) {
  panelBackground(canvas);
  fonts.bold.draw(canvas, "CORVID", 14, 17, 12, kMuted, Font::Align::Left, 3);
  canvas.roundRect(64, 54, 764, 252, 4, rgb(4, 5, 7));
  canvas.roundRect(64, 54, 764, 55, 0, kRule);
  fonts.sans.draw(canvas, "SPECTRUM", 764, 272, 11, kMuted, Font::Align::Right, 2);
}

void startScreen(Canvas& canvas, Fonts& fonts, const char* model) {
  canvas.verticalGradient(0, kHeight, rgb(22, 26, 32), rgb(6, 7, 9));
  // A faint arc, as of a meter scale, behind the name.
  canvas.arcBand(400, 420, 300, 302, needleAngle(60, 60), needleAngle(0, 60), kRule);
  for (int v = 0; v <= 60; v += 5) {
    const Point a = onScale(400, 420, needleAngle(v, 60), 304);
    const Point b = onScale(400, 420, needleAngle(v, 60), v % 10 == 0 ? 318 : 311);
    canvas.line(a.x, a.y, b.x, b.y, 1.6f, kRule);
  }
  fonts.bold.draw(canvas, "CORVID", 400, 215, 92, kSteel, Font::Align::Centre, 10);
  canvas.line(250, 240, 550, 240, 2, kOrange);
  fonts.sans.draw(canvas, "HF LINEAR AMPLIFIER  \xC2\xB7  AUTOMATIC ANTENNA TUNER", 400, 272, 16,
                  kMuted, Font::Align::Centre, 1.5f);
  fonts.bold.draw(canvas, model, 400, 320, 28, kOrange, Font::Align::Centre, 2);
}

bool writePng(const std::string& file, const Canvas& canvas) {
  std::vector<png_byte> rgba;
  rgba.reserve(size_t{kWidth} * kHeight * 4);
  for (const Colour& c : canvas.pixels()) {
    for (float v : {c.r, c.g, c.b}) rgba.push_back(png_byte(std::lround(std::clamp(v, 0.0f, 1.0f) * 255)));
    rgba.push_back(255);
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = kWidth;
  image.height = kHeight;
  image.format = PNG_FORMAT_RGBA;  // 8-bit, colour type 6: what the loader accepts
  const bool ok = png_image_write_to_file(&image, file.c_str(), 0, rgba.data(), 0, nullptr) != 0;
  if (!ok) std::fprintf(stderr, "make_pictures: %s: %s\n", file.c_str(), image.message);
  png_image_free(&image);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_pictures OUTDIR SANS.ttf SANS-BOLD.ttf\n");
    return 2;
  }
  const std::string out = argv[1];
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) return 1;
  int status = 0;
  {
    Font sans(library, argv[2]);
    Font bold(library, argv[3]);
    if (!sans.ok() || !bold.ok()) {
      std::fprintf(stderr, "make_pictures: cannot open the fonts %s, %s\n", argv[2], argv[3]);
      status = 1;
    } else {
      Fonts fonts{sans, bold};
      struct Picture {
        const char* name;
        void (*draw)(Canvas&, Fonts&);
      };
      const std::array<Picture, 9> pictures{{
          {"start", [](Canvas& c, Fonts& f) { startScreen(c, f, "60 W"); }},
          {"start120", [](Canvas& c, Fonts& f) { startScreen(c, f, "120 W"); }},
          {"status", [](Canvas& c, Fonts& f) { statusPage(c, f, true); }},
          {"statusB", [](Canvas& c, Fonts& f) { statusPage(c, f, false); }},
          {"img1", [](Canvas& c, Fonts& f) { meters(c, f, forwardScale(60), reflectedScale()); }},
          {"img1b", [](Canvas& c, Fonts& f) { meters(c, f, forwardScale(120), reflectedScale()); }},
          {"img3", [](Canvas& c, Fonts& f) { meters(c, f, forwardScale(60), swrScale()); }},
          {"img3b", [](Canvas& c, Fonts& f) { meters(c, f, forwardScale(120), swrScale()); }},
          {"m5a", [](Canvas& c, Fonts& f) { spectrumPage(c, f); }},
      }};
      for (const Picture& picture : pictures) {
        Canvas canvas;
        picture.draw(canvas, fonts);
        if (!writePng(out + "/" + picture.name + ".png", canvas)) status = 1;
      }
    }
  }
  FT_Done_FreeType(library);
  return status;
}
