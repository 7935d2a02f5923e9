#include "classlib/Exception.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "classlib/Format.h"

namespace muralo {

EReadError::EReadError() : EStreamError(SReadError) {}
EWriteError::EWriteError() : EStreamError(SWriteError) {}

EFOpenError::EFOpenError(const std::string& fileName, const std::string& reason)
    : EStreamError(Format(SFOpenError, fileName, reason)) {}

EFCreateError::EFCreateError(const std::string& fileName, const std::string& reason)
    : EStreamError(Format(SFCreateError, fileName, reason)) {}

std::string SystemErrorText(int errorCode) {
  switch (errorCode) {
    case EPERM:
      return "opération non permise";
    case ENOENT:
      return "fichier ou dossier introuvable";
    case EIO:
      return "erreur d'entrée-sortie";
    case ENXIO:
      return "périphérique ou adresse introuvable";
    case EBADF:
      return "descripteur de fichier incorrect";
    case EAGAIN:
      return "ressource momentanément indisponible";
    case ENOMEM:
      return "mémoire insuffisante";
    case EACCES:
      return "accès refusé";
    case EBUSY:
      return "ressource occupée";
    case EEXIST:
      return "le fichier existe déjà";
    case EXDEV:
      return "lien entre deux systèmes de fichiers impossible";
    case ENODEV:
      return "périphérique introuvable";
    case ENOTDIR:
      return "un élément du chemin n'est pas un dossier";
    case EISDIR:
      return "c'est un dossier";
    case EINVAL:
      return "argument incorrect";
    case ENFILE:
    case EMFILE:
      return "trop de fichiers ouverts";
    case ETXTBSY:
      return "fichier occupé";
    case EFBIG:
      return "fichier trop volumineux";
    case ENOSPC:
      return "plus de place sur le disque";
    case ESPIPE:
      return "le fichier ne permet pas de se déplacer";
    case EROFS:
      return "système de fichiers en lecture seule";
    case EMLINK:
      return "trop de liens";
    case EPIPE:
      return "tube rompu";
    case ENAMETOOLONG:
      return "nom de fichier trop long";
    case ELOOP:
      return "trop de liens symboliques";
    case EDQUOT:
      return "quota de disque dépassé";
    case ESTALE:
      return "fichier réseau périmé";
    case ETIMEDOUT:
      return "délai d'attente dépassé";
    case ECONNREFUSED:
      return "connexion refusée";
    case EINTR:
      return "appel interrompu";
    default:
      return Format(SSystemError, errorCode);
  }
}

std::string ReadableText(const std::string& text, size_t maxLength) {
  std::string out;
  size_t i = 0;
  auto hex = [&out](unsigned char c) {
    static const char digits[] = "0123456789ABCDEF";
    out += "\\x";
    out += digits[c >> 4];
    out += digits[c & 15];
  };
  while (i < text.size()) {
    if (out.size() >= maxLength) {
      out += "…";
      break;
    }
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    // A whole, shortest-form UTF-8 sequence is kept as it is; any other byte is shown as \xNN.
    size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    bool valid = n != 0 && i + n <= text.size();
    for (size_t k = 1; valid && k < n; ++k) valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (valid && n == 3) {
      const auto c1 = static_cast<unsigned char>(text[i + 1]);
      valid = !(c == 0xE0 && c1 < 0xA0) && !(c == 0xED && c1 >= 0xA0);  // overlong forms, surrogates
    }
    if (valid && n == 4) {
      const auto c1 = static_cast<unsigned char>(text[i + 1]);
      valid = !(c == 0xF0 && c1 < 0x90) && !(c == 0xF4 && c1 >= 0x90);
    }
    if (valid) {
      out.append(text, i, n);
      i += n;
    } else {
      hex(c);
      ++i;
    }
  }
  return out;
}

int StrToInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  size_t end = text.size();
  while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  const std::string body = text.substr(i, end - i);
  size_t digits = 0;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) digits = 1;
  bool ok = body.size() > digits;
  for (size_t k = digits; ok && k < body.size(); ++k) ok = body[k] >= '0' && body[k] <= '9';
  if (ok) {
    errno = 0;
    char* stop = nullptr;
    const long long value = std::strtoll(body.c_str(), &stop, 10);
    if (errno == 0 && value >= INT_MIN && value <= INT_MAX) return static_cast<int>(value);
  }
  throw EConvertError(Format(SInvalidInteger, ReadableText(text)));
}

namespace detail {
std::string FormatImpl(std::string_view pattern, const std::vector<std::string>& args) {
  std::string out;
  out.reserve(pattern.size() + 32);
  size_t next = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%' || i + 1 >= pattern.size()) {
      out += c;
      continue;
    }
    const char d = pattern[i + 1];
    if (d == '%') {
      out += '%';
      ++i;
    } else if (d == 's' || d == 'd' || d == 'u' || d == 'x') {
      if (next < args.size()) {
        if (d == 'x') {
          // hexadecimal of a decimal argument
          char* stop = nullptr;
          const unsigned long long v = std::strtoull(args[next].c_str(), &stop, 10);
          std::ostringstream hex;
          hex << std::hex << std::uppercase << v;
          out += hex.str();
        } else {
          out += args[next];
        }
      }
      ++next;
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}
}  // namespace detail

}  // namespace muralo
