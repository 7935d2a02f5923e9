#pragma once
// Every message text of the framework, by name. Readers, decoders, the colour manager and tests
// refer to these constants and never retype the texts.

namespace muralo {

// Reader and decoder messages.
extern const char* const gesInvalidImage;
extern const char* const gesInvalidColorFormat;
extern const char* const gesStreamReadError;
extern const char* const gesUnsupportedImage;
extern const char* const gesUnsupportedFeature;
extern const char* const gesInvalidCRC;
extern const char* const gesCompression;
extern const char* const gesExtraCompressedData;
extern const char* const gesInvalidPalette;
extern const char* const gesCompressionScheme;
extern const char* const gesPCDImageSize;
extern const char* const gesRLAPixelFormat;
extern const char* const gesPSPFileType;
// Fragments completed by gesUnsupportedFeature, as gesPSPFileType is.
extern const char* const gesPSDColorMode;
extern const char* const gesPSDSampleDepth;
extern const char* const gesPSPJPEGChannels;
extern const char* const gesUnknownCriticalChunk;
extern const char* const gesIndexedNotSupported;
extern const char* const gesConversionUnsupported;
extern const char* const gesInvalidSampleDepth;
extern const char* const gesInvalidPixelDepth;
extern const char* const gesVerticalSubSamplingError;
extern const char* const gesInvalidSubSampling;
extern const char* const gesPreparing;
extern const char* const gesLoadingData;
extern const char* const gesUpsampling;
extern const char* const gesTransfering;
extern const char* const gesLZ77Error;
extern const char* const gesJPEGEOI;
extern const char* const gesJPEGStripSize;
extern const char* const gesJPEGComponentCount;
extern const char* const gesJPEGDataPrecision;
extern const char* const gesJPEGSamplingFactors;
extern const char* const gesJPEGBogusTableField;
extern const char* const gesJPEGFractionalLine;
extern const char* const gesFax2DCoding;
extern const char* const gesEncodingUnsupported;
extern const char* const gesWarning;

// Registry messages and format descriptions.
extern const char* const gesRegistration;
extern const char* const gesAllImages;
extern const char* const gesBitmaps;
extern const char* const gesRLEBitmaps;
extern const char* const gesDIBs;
extern const char* const gesIcons;
extern const char* const gesMetaFiles;
extern const char* const gesEnhancedMetaFiles;
extern const char* const gesJPGImages;
extern const char* const gesJFIFImages;
extern const char* const gesJPEImages;
extern const char* const gesJPEGImages;
extern const char* const gesTruevision;
extern const char* const gesTIFF;
extern const char* const gesMacTIFF;
extern const char* const gesPCTIF;
extern const char* const gesGFIFax;
extern const char* const gesEPS;
extern const char* const gesZSoft;
extern const char* const gesZSoftWord;
extern const char* const gesAliasWaveFront;
extern const char* const gesSGI;
extern const char* const gesSGITrueColor;
extern const char* const gesSGITrueColorAlpha;
extern const char* const gesSGIMono;
extern const char* const gesPhotoshop;
extern const char* const gesPortable;
extern const char* const gesPortablePixel;
extern const char* const gesPortableGray;
extern const char* const gesPortableMono;
extern const char* const gesAutoDesk;
extern const char* const gesKodakPhotoCD;
extern const char* const gesHalo;
extern const char* const gesPaintShopPro;
extern const char* const gesPortableNetworkGraphic;
extern const char* const gesCompuserve;

// Format labels: the name of a file format as the reader messages above show it (the %s of
// gesInvalidImage and its kind).
extern const char* const lblTarga;
extern const char* const lblPCX;
extern const char* const lblSGI;
extern const char* const lblPortableMap;
extern const char* const lblPPM;  // the portable map reader's stream errors
extern const char* const lblRLA;
extern const char* const lblAutodesk;
extern const char* const lblPNG;
extern const char* const lblTIFF;
extern const char* const lblEPS;
extern const char* const lblPSD;
extern const char* const lblPSP;
extern const char* const lblPCD;

}  // namespace muralo
