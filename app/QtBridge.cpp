#include "app/QtBridge.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLibraryInfo>
#include <QPainter>
#include <QTranslator>

#include <cstring>

namespace muralo {

QImage ToQImage(const TBitmap& bitmap) {
  QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
  for (int y = 0; y < bitmap.Height(); ++y) {
    // Format_RGB32 is 0xffRRGGBB per pixel: B, G, R, A bytes on a little-endian machine.
    auto* row = reinterpret_cast<uint8_t*>(image.scanLine(y));
    bitmap.ReadRowBGRA(y, row);
    for (int x = 0; x < bitmap.Width(); ++x) row[4 * x + 3] = 0xFF;
  }
  return image;
}

QImage RenderToQImage(TGraphic& graphic, int width, int height) {
  TBitmap target;
  target.SetPixelFormat(TPixelFormat::pf32bit);
  target.SetSize(width, height);
  target.Canvas().StretchDraw(TRect{0, 0, width, height}, graphic);
  return ToQImage(target);
}

static QString FamilyFor(const std::string& name) { return QString::fromStdString(name); }

void InstallFontSubstitutions() {
  const QStringList families = QFontDatabase::families();
  auto has = [&](const QString& f) { return families.contains(f, Qt::CaseInsensitive); };
  if (!has("MS Sans Serif")) QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
  if (!has("Times New Roman")) {
    QFont::insertSubstitution("Times New Roman", "Liberation Serif");
    QFont::insertSubstitution("Times new Roman", "Liberation Serif");
  }
}

QFont ToDialogFont(const TFont& font) {
  QFont f = ToQFont(font);
  const QStringList families = QFontDatabase::families();
  auto has = [&](const QString& family) { return families.contains(family, Qt::CaseInsensitive); };
  static const struct {
    const char* Windows;
    const char* Liberation;
  } faces[] = {{"Times New Roman", "Liberation Serif"},
               {"Arial", "Liberation Sans"},
               {"MS Sans Serif", "Liberation Sans"},
               {"Courier New", "Liberation Mono"},
               {"Arial Narrow", "Liberation Sans Narrow"}};
  if (!has(f.family()))
    for (const auto& face : faces)
      if (f.family().compare(QLatin1String(face.Windows), Qt::CaseInsensitive) == 0 && has(face.Liberation))
        f.setFamily(QString::fromLatin1(face.Liberation));
  // The dialog selects its style entry by name. Named by the family's own styles: the name Qt
  // would make up is translated ("Gras") and matches none of them.
  for (const QString& style : QFontDatabase::styles(f.family()))
    if (QFontDatabase::bold(f.family(), style) == f.bold() && QFontDatabase::italic(f.family(), style) == f.italic()) {
      f.setStyleName(style);
      break;
    }
  return f;
}

QColor ToQColor(TColor color) { return QColor(GetRValue(color), GetGValue(color), GetBValue(color)); }

TColor FromQColor(const QColor& color) {
  return RGB(static_cast<uint8_t>(color.red()), static_cast<uint8_t>(color.green()),
             static_cast<uint8_t>(color.blue()));
}

bool InstallFrenchTranslations() {
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(QStringLiteral("qtbase_fr"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

QFont ToQFont(const TFont& font) {
  QFont f(FamilyFor(font.Name));
  f.setPointSize(font.Size > 0 ? font.Size : 8);
  f.setBold(font.Style & static_cast<uint8_t>(TFontStyle::fsBold));
  f.setItalic(font.Style & static_cast<uint8_t>(TFontStyle::fsItalic));
  f.setUnderline(font.Style & static_cast<uint8_t>(TFontStyle::fsUnderline));
  f.setStrikeOut(font.Style & static_cast<uint8_t>(TFontStyle::fsStrikeOut));
  return f;
}

TFont FromQFont(const QFont& font, TColor color) {
  TFont f;
  f.Name = font.family().toStdString();
  f.Size = font.pointSize() > 0 ? font.pointSize() : 8;
  f.Color = color;
  f.Style = static_cast<uint8_t>((font.bold() ? 1 : 0) | (font.italic() ? 2 : 0) | (font.underline() ? 4 : 0) |
                                 (font.strikeOut() ? 8 : 0));
  return f;
}

static QColor FromColorRef(TColor c) {
  // COLORREF: red in the low byte, then green, then blue.
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}

void TQtTextRenderer::TextOut(TBitmap& target, int x, int y, const std::string& utf8Text, const TFont& font,
                              TColor background, bool opaqueBackground) {
  if (target.Width() <= 0 || target.Height() <= 0) return;
  QImage image = ToQImage(target);
  {
    QPainter painter(&image);
    QFont qf = ToQFont(font);
    painter.setFont(qf);
    const QString text = QString::fromUtf8(utf8Text.data(), static_cast<qsizetype>(utf8Text.size()));
    QFontMetrics metrics(qf, &image);
    QRect box(x, y, metrics.horizontalAdvance(text), metrics.height());
    if (opaqueBackground) painter.fillRect(box, FromColorRef(background));
    painter.setPen(FromColorRef(font.Color));
    painter.drawText(QPoint(x, y + metrics.ascent()), text);
  }
  for (int row = 0; row < target.Height(); ++row)
    target.WriteRowBGRA(row, reinterpret_cast<const uint8_t*>(image.constScanLine(row)));
  target.Modified();
}

TPoint TQtTextRenderer::TextExtent(const std::string& utf8Text, const TFont& font) {
  QFontMetrics metrics(ToQFont(font));
  const QString text = QString::fromUtf8(utf8Text.data(), static_cast<qsizetype>(utf8Text.size()));
  return TPoint{metrics.horizontalAdvance(text), metrics.height()};
}

}  // namespace muralo
