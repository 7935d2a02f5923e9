#pragma once
// The programs the tests and benchmarks run, by their Debian binary names (package in brackets).
// Every command line elsewhere builds on these, so that a renamed binary is changed here only.

#include <string>

namespace muralo::test {

// ImageMagick 6 [imagemagick-6.q16]
inline const std::string kMagick = "convert-im6.q16";
inline const std::string kMagickImport = "import-im6.q16";
inline const std::string kMagickIdentify = "identify-im6.q16";

// netpbm [netpbm]
inline const std::string kPamDepth = "pamdepth";
inline const std::string kPamToPnm = "pamtopnm";
inline const std::string kPbmMake = "pbmmake";
inline const std::string kPcxToPpm = "pcxtoppm";
inline const std::string kPgmRamp = "pgmramp";
inline const std::string kPgmToPpm = "pgmtoppm";
inline const std::string kPngToPam = "pngtopam";
inline const std::string kPnmToPlainPnm = "pnmtoplainpnm";
inline const std::string kPnmToPng = "pnmtopng";
inline const std::string kPnmToPnm = "pnmtopnm";
inline const std::string kPnmToTiff = "pnmtotiff";
inline const std::string kPpmMake = "ppmmake";
inline const std::string kPpmToPcx = "ppmtopcx";
inline const std::string kSgiToPnm = "sgitopnm";

// libtiff [libtiff-tools]
inline const std::string kTiffCp = "tiffcp";
inline const std::string kTiff2Rgba = "tiff2rgba";

// libjpeg-turbo [libjpeg-turbo-progs]
inline const std::string kCJpeg = "cjpeg";
inline const std::string kDJpeg = "djpeg";

// Pillow: the system's Python [python3-pil]; a python3 earlier on the PATH may lack it.
inline const std::string kPython = "/usr/bin/python3";

// Metafile drawing: libemf2svg's converter [emf2svg], librsvg [librsvg2-bin]
inline const std::string kEmf2Svg = "emf2svg-conv";
inline const std::string kRsvgConvert = "rsvg-convert";

// The X server and X tools the display tests drive [xvfb, x11-utils, x11-xserver-utils, xdotool, trayer]
inline const std::string kXvfb = "Xvfb";
inline const std::string kXdpyinfo = "xdpyinfo";
inline const std::string kXrandr = "xrandr";
inline const std::string kXprop = "xprop";
inline const std::string kXdotool = "xdotool";
inline const std::string kTrayer = "trayer";

// glibc's locale compiler [libc-bin]
inline const std::string kLocaledef = "localedef";

}  // namespace muralo::test
