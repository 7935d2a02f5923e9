#pragma once
// Every text of the class library meant for the user, in one place (French, UTF-8). The framework's
// own texts (ges…) live in imaging/Graphicstrings; the program's in its windows.

namespace muralo {

// Streams and files.
inline constexpr const char* SReadError = "Erreur de lecture du flux";
inline constexpr const char* SWriteError = "Erreur d'écriture dans le flux";
inline constexpr const char* SFOpenError = "Impossible d'ouvrir le fichier %s. %s";
inline constexpr const char* SFCreateError = "Impossible de créer le fichier %s. %s";
// A stream error on a named file: the error's text, the file, the reason ("%s : %s (%s)").
inline constexpr const char* SStreamErrorDetail = "%s : %s (%s)";
inline constexpr const char* SEndOfFile = "fin du fichier atteinte";
inline constexpr const char* SShortWrite = "écriture incomplète";
inline constexpr const char* SSystemError = "erreur système %d";

// Numbers and conversions.
inline constexpr const char* SInvalidInteger = "'%s' n'est pas une valeur entière correcte";
inline constexpr const char* SAssignError = "Impossible d'assigner %s à %s";
inline constexpr const char* SCopyError = "Impossible de copier %s";

// Bitmaps.
inline constexpr const char* SImageTooLarge = "Image trop grande (%s × %s pixels) : elle dépasse la limite de mémoire";
inline constexpr const char* SBufferTooLarge = "Tampon de %s octets refusé : il dépasse la limite de mémoire";
inline constexpr const char* SRowOutOfRange = "Indice de ligne hors limites (%d)";
inline constexpr const char* SColumnOutOfRange = "Indice de colonne hors limites (%d)";
inline constexpr const char* SBmpInvalid = "Fichier bitmap incorrect (%s)";
inline constexpr const char* SBmpNoSignature = "signature BM absente";
inline constexpr const char* SBmpHeaderSize = "en-tête de %s octets";
inline constexpr const char* SBmpNegativeWidth = "largeur négative %s";
inline constexpr const char* SBitsPerPixel = "%s bits par pixel";
inline constexpr const char* SBmpRle8Depth = "RLE8 exige 8 bits par pixel";
inline constexpr const char* SBmpRle4Depth = "RLE4 exige 4 bits par pixel";
inline constexpr const char* SBmpBitFieldsDepth = "champs de bits hors 16 et 32 bits";
inline constexpr const char* SBmpNullMasks = "masques de couleur nuls";
inline constexpr const char* SBmpEmbeddedImage = "compression JPEG ou PNG non prise en charge";
inline constexpr const char* SBmpUnknownCompression = "compression %s inconnue";
inline constexpr const char* SBmpTooLarge = "Image trop grande pour un fichier BMP";

// Icons.
inline constexpr const char* SIconPngUnsupported =
    "Icône au format PNG : aucun lecteur PNG n'est disponible pour cette image";
inline constexpr const char* SInvalidIcon = "Fichier icône incorrect (%s)";
inline constexpr const char* SIconImageHeader = "en-tête d'image de %s octets";
inline constexpr const char* SIconSize = "taille %s × %s";
inline constexpr const char* SIconCompression = "compression %s";
inline constexpr const char* SIconReserved = "mot réservé non nul";
inline constexpr const char* SIconType = "type %s";
inline constexpr const char* SIconNoImage = "aucune image";
inline constexpr const char* SIconBadPng = "image PNG mal décodée";
inline constexpr const char* SIconEmpty = "Icône vide : rien à enregistrer";
inline constexpr const char* SIconPixelOutside = "Pixel (%d, %d) hors de l'icône";

// JPEG images.
inline constexpr const char* SJPEGEmpty = "Image JPEG vide : rien à compresser";

// Metafiles.
inline constexpr const char* SInvalidMetafile = "Métafichier incorrect (%s)";
inline constexpr const char* SEmfHeaderSize = "en-tête EMF de %s octets";
inline constexpr const char* SEmfReferenceDevice = "périphérique de référence %s × %s";
inline constexpr const char* SEmfEmptyFrame = "cadre vide (%s × %s)";
inline constexpr const char* SWmfNoUnitsPerInch = "0 unité par pouce";
inline constexpr const char* SWmfHeader = "en-tête WMF";
inline constexpr const char* SWmfEmptyBox = "boîte vide (%s × %s)";
inline constexpr const char* SWmfNoWindow = "aucune fenêtre ne donne sa taille";
inline constexpr const char* SMetafileEmpty = "Métafichier vide : rien à enregistrer";

// Resources.
inline constexpr const char* SResourceTwice = "Ressource %s déjà enregistrée";
inline constexpr const char* SResourceNullId = "Identifiant de ressource nul";
inline constexpr const char* SResourceNoName = "Nom de ressource vide";
inline constexpr const char* SResourceNotFound = "Ressource %s introuvable";

}  // namespace muralo
