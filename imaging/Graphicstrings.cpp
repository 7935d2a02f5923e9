#include "imaging/Graphicstrings.h"

namespace muralo {

const char* const gesInvalidImage = "Ne peux pas charger l'image. Format de fichier %s invalide ou inattendue.";
const char* const gesInvalidColorFormat = "Format de couleur invalide dans le fichier %s.";
const char* const gesStreamReadError = "Erreur de lecture de flux dans le fichier %s.";
const char* const gesUnsupportedImage = "Ne peux pas charger l'image. Format de fichier %s non supporté.";
const char* const gesUnsupportedFeature = "Ne peux pas charger l'image. %s pas supporté par les fichiers %s.";
const char* const gesInvalidCRC = "Ne peux pas charger l'image. Erreur de CRC dans le fichier %s.";
const char* const gesCompression = "Ne peux pas charger l'image. Erreur de compression dans le fichier %s.";
const char* const gesExtraCompressedData =
    "Ne peux pas charger l'image. Surplus de données compressé trouvé dans le fichier %s.";
const char* const gesInvalidPalette = "Ne peux pas charger l'image. La palette du fichier %s est invalide.";
const char* const gesCompressionScheme = "Le procédé de compression n'est";
const char* const gesPCDImageSize = "Les taille d'images différentes de Base16, Base4 ou Base ne sont";
const char* const gesRLAPixelFormat = "Les format d'images différents de RGB ou RGBA ne sont";
const char* const gesPSPFileType = "Les fichiers de version différents de 3 ou 4 ne sont";
const char* const gesPSDColorMode = "Les modes de couleur 5, 6 et au-delà de 9 ne sont";
const char* const gesPSDSampleDepth = "Les échantillons de 32 bits ne sont";
const char* const gesPSPJPEGChannels = "Les canaux compressés en JPEG ne sont";
const char* const gesUnknownCriticalChunk =
    "Ne peux pas charger l'image PNG. Morceau inattendue, mais critique détecté.";
const char* const gesIndexedNotSupported =
    "La conversion entre les formats de pixels indexé et non-indexé n'est pas supportée.";
const char* const gesConversionUnsupported = "la conversion des couleurs a échoué. Méthode approprié non trouvé.";
const char* const gesInvalidSampleDepth =
    "Profondeur des couleurs invalide. Elle doit être de 1, 2, 4, 8, or 16 bits par échantillon.";
const char* const gesInvalidPixelDepth =
    "La profondeur des pixels de l'échantillon ne correspond pas au format des couleurs.";
const char* const gesVerticalSubSamplingError = "Vertical subsampling value must be <= horizontal subsampling value.";
const char* const gesInvalidSubSampling = "Subsampling value is invalid. Allowed are 1, 2 and 4.";
const char* const gesPreparing = "Prepare...";
const char* const gesLoadingData = "Charge données...";
const char* const gesUpsampling = "Upsampling...";
const char* const gesTransfering = "Transfere...";
const char* const gesLZ77Error = "LZ77 decompression error.";
const char* const gesJPEGEOI = "JPEG decompression error. Unexpected end of input.";
const char* const gesJPEGStripSize = "Improper JPEG strip/tile size.";
const char* const gesJPEGComponentCount = "Improper JPEG component count.";
const char* const gesJPEGDataPrecision = "Improper JPEG data precision.";
const char* const gesJPEGSamplingFactors = "Improper JPEG sampling factors.";
const char* const gesJPEGBogusTableField = "Bogus JPEG tables field.";
const char* const gesJPEGFractionalLine = "Fractional JPEG scanline unsupported.";
const char* const gesFax2DCoding = "Le codage CCITT bidimensionnel (T.4 2-D) n'est";
const char* const gesEncodingUnsupported = "Ce procédé de compression ne sait que décompresser.";
const char* const gesWarning = "Attention";

const char* const gesRegistration = "Tentative de re-enregistrement des fichiers %s.";
const char* const gesAllImages = "Toutes les images";
const char* const gesBitmaps = "Bitmaps Windows";
const char* const gesRLEBitmaps = "Bitmaps Windows (Run length encoded)";
const char* const gesDIBs = "Bitmaps Windows (Device independant)";
const char* const gesIcons = "Icone Windows";
const char* const gesMetaFiles = "Metafiles Windows";
const char* const gesEnhancedMetaFiles = "Metafiles Windows améliorés";
const char* const gesJPGImages = "Images JPG";
const char* const gesJFIFImages = "Images JFIF";
const char* const gesJPEImages = "Images JPE";
const char* const gesJPEGImages = "Images JPEG";
const char* const gesTruevision = "Images Truevision";
const char* const gesTIFF = "Images Tagged image file format";
const char* const gesMacTIFF = "Images TIFF Macintosh";
const char* const gesPCTIF = "Images PC TIF";
const char* const gesGFIFax = "Images GFI fax";
const char* const gesEPS = "Postcript encapsulé";
const char* const gesZSoft = "Images ZSoft Paintbrush";
const char* const gesZSoftWord = "Capture d'ecrant Word 5.x";
const char* const gesAliasWaveFront = "Images Alias/Wavefront";
const char* const gesSGI = "Images SGI";
const char* const gesSGITrueColor = "Images SGI true color";
const char* const gesSGITrueColorAlpha = "Images SGI true color avec canal alpha";
const char* const gesSGIMono = "Images SGI noir/blanc";
const char* const gesPhotoshop = "Images Photoshop";
const char* const gesPortable = "Images Portable map";
const char* const gesPortablePixel = "Images Portable pixel map";
const char* const gesPortableGray = "Images Portable gray map";
const char* const gesPortableMono = "Images Portable bitmap";
const char* const gesAutoDesk = "Images Autodesk";
const char* const gesKodakPhotoCD = "Images Kodak Photo-CD";
const char* const gesHalo = "Images Dr. Halo";
const char* const gesPaintShopPro = "Images Paintshop Pro";
const char* const gesPortableNetworkGraphic = "Images Portable network graphic";
const char* const gesCompuserve = "Images CompuServe";

const char* const lblTarga = "TGA";
const char* const lblPCX = "PCX";
const char* const lblSGI = "sgi, bw or rgb(a)";
const char* const lblPortableMap = "PBM, PGM or PPM";
const char* const lblPPM = "PPM";
const char* const lblRLA = "RLA";
const char* const lblAutodesk = "Autodesk";
const char* const lblPNG = "PNG";
const char* const lblTIFF = "TIF/TIFF";
const char* const lblEPS = "EPS";
const char* const lblPSD = "PSD";
const char* const lblPSP = "PSP";
const char* const lblPCD = "PCD";

}  // namespace muralo
