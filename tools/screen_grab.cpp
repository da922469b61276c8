// Looks at a rectangle of an X screen for the tests under Xvfb, which must judge what a
// user sees from the pixels and not by eye:
//   screen_grab X Y WIDTH HEIGHT [OUT.png]
// Grabs the rectangle (root coordinates, window manager frames included) from the display
// that DISPLAY names and prints one line:
//   black=<pixels that are pure black, per mille> text_rows=<bands of rows holding dark pixels>
//   sum=<a checksum of the pixels>
// A window that was mapped but never painted shows pure black; each line of text is one
// band of rows with dark pixels, set apart from the next by rows without any; two grabs
// with the same sum show the same picture. OUT.png, when given, receives the picture.
// Exit status 2 on wrong use, 1 when the display or the file cannot be used.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Darker than this (0..255) counts as ink: text and outlines, not the light backgrounds.
constexpr int kInk = 96;

bool ParseInt(const char* text, int& out) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < -100000 || value > 100000) return false;
  out = static_cast<int>(value);
  return true;
}

struct Reading {
  long blackPerMille = 0;
  int textRows = 0;
  unsigned long long sum = 14695981039346656037ULL;  // FNV-1a
};

Reading Read(const QImage& image) {
  Reading r;
  long black = 0;
  bool inBand = false;
  for (int y = 0; y < image.height(); ++y) {
    bool ink = false;
    for (int x = 0; x < image.width(); ++x) {
      const QRgb p = image.pixel(x, y);
      r.sum = (r.sum ^ (p & 0xFFFFFF)) * 1099511628211ULL;
      if ((p & 0xFFFFFF) == 0) ++black;
      if (qGray(p) < kInk) ink = true;
    }
    if (ink && !inBand) ++r.textRows;
    inBand = ink;
  }
  const long all = static_cast<long>(image.width()) * image.height();
  r.blackPerMille = all > 0 ? black * 1000 / all : 0;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  int x = 0, y = 0, w = 0, h = 0;
  if ((argc != 5 && argc != 6) || !ParseInt(argv[1], x) || !ParseInt(argv[2], y) ||
      !ParseInt(argv[3], w) || !ParseInt(argv[4], h) || w <= 0 || h <= 0) {
    std::fprintf(stderr, "usage: screen_grab X Y WIDTH HEIGHT [OUT.png]\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    std::fprintf(stderr, "screen_grab: no screen\n");
    return 1;
  }
  const QImage image = screen->grabWindow(0, x, y, w, h).toImage().convertToFormat(QImage::Format_RGB32);
  if (image.isNull()) {
    std::fprintf(stderr, "screen_grab: the screen could not be read\n");
    return 1;
  }
  if (argc == 6 && !image.save(QString::fromLocal8Bit(argv[5]), "PNG")) {
    std::fprintf(stderr, "screen_grab: cannot write %s\n", argv[5]);
    return 1;
  }
  const Reading r = Read(image);
  std::printf("black=%ld text_rows=%d sum=%016llx\n", r.blackPerMille, r.textRows, r.sum);
  return 0;
}
