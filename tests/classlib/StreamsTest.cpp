// The checked stream reads every reader relies on: exact reads raise EReadError at the end, and
// seeks from header fields can neither go before the start nor wrap around.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "kit/TestKit.h"

namespace muralo {
namespace {

TEST(Streams, ExactReadsRaiseAtTheEnd) {
  const uint8_t bytes[5] = {1, 2, 3, 4, 5};
  TReadOnlyMemoryStream s(bytes, sizeof bytes);
  EXPECT_EQ(ReadLE32(s), 0x04030201u);
  EXPECT_THROW(ReadLE16(s), EReadError);
  s.SetPosition(3);
  EXPECT_EQ(ReadBE16(s), 0x0405);
  EXPECT_THROW(ReadU8(s), EReadError);
  s.SetPosition(1);
  EXPECT_THROW(ReadBytes(s, 5), EReadError);
  EXPECT_EQ(ReadBytes(s, 4).size(), 4u);
  EXPECT_EQ(s.Remaining(), 0);
}

TEST(Streams, SeeksAreChecked) {
  const uint8_t bytes[4] = {};
  TReadOnlyMemoryStream ro(bytes, sizeof bytes);
  TMemoryStream mem(bytes, sizeof bytes);
  for (TStream* s : {static_cast<TStream*>(&ro), static_cast<TStream*>(&mem)}) {
    EXPECT_THROW(s->Seek(-1, TSeekOrigin::soBeginning), EReadError);
    EXPECT_THROW(s->Seek(-5, TSeekOrigin::soEnd), EReadError);
    EXPECT_EQ(s->Seek(-4, TSeekOrigin::soEnd), 0);
    s->SetPosition(2);
    EXPECT_THROW(s->Seek(INT64_MAX, TSeekOrigin::soCurrent), EReadError);
    EXPECT_THROW(s->Seek(INT64_MIN, TSeekOrigin::soCurrent), EReadError);
    EXPECT_EQ(s->Position(), 2);
    EXPECT_EQ(s->Seek(INT64_MAX - 2, TSeekOrigin::soCurrent), INT64_MAX);
    EXPECT_EQ(s->Remaining(), 0);
    uint8_t b;
    EXPECT_THROW(s->ReadBuffer(&b, 1), EReadError);
  }
}

// A failing read or write on a file says which file and why, in French, after the stream's own text.
TEST(Streams, FileErrorsNameTheFileAndTheReasonInFrench) {
  {
    TFileStream full("/dev/full", TFileMode::fmCreate);  // every write fails with ENOSPC
    try {
      full.WriteBuffer("x", 1);
      ADD_FAILURE() << "no write error";
    } catch (const EWriteError& e) {
      EXPECT_EQ(e.message(), Format(SStreamErrorDetail, SWriteError, "/dev/full", "plus de place sur le disque"));
    }
  }
  test::TempDir dir;
  const std::string one = dir / "one";
  std::ofstream(one) << 'x';
  TFileStream s(one, TFileMode::fmOpenRead);
  uint8_t b[2];
  try {
    s.ReadBuffer(b, 2);
    ADD_FAILURE() << "no read error";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.message(), Format(SStreamErrorDetail, SReadError, one, SEndOfFile));
  }
  try {
    TFileStream missing(dir / "missing", TFileMode::fmOpenRead);
    ADD_FAILURE() << "no open error";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.message(), Format(SFOpenError, dir / "missing", "fichier ou dossier introuvable"));
  }
}

TEST(Streams, SystemReasonsAreOurOwnFrenchTexts) {
  const struct {
    int Error;
    const char* Text;
  } cases[] = {
      {ENOSPC, "plus de place sur le disque"},
      {EROFS, "système de fichiers en lecture seule"},
      {EACCES, "accès refusé"},
      {ENOENT, "fichier ou dossier introuvable"},
      {EFBIG, "fichier trop volumineux"},
      {EDQUOT, "quota de disque dépassé"},
      {EIO, "erreur d'entrée-sortie"},
      {4242, "erreur système 4242"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(SystemErrorText(c.Error), c.Text);
  }
}

// The replaced file is whole or not touched at all; no temporary file stays behind.
TEST(Streams, ReplaceFileContentRenamesAWholeFileOverThePreviousOne) {
  test::TempDir dir;
  const std::string name = dir / "f.bin";
  ReplaceFileContent(name, "old", 3);
  ReplaceFileContent(name, "newer", 5);
  std::ifstream in(name, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "newer");
  EXPECT_EQ(std::filesystem::status(name).permissions() & std::filesystem::perms::all, std::filesystem::perms(0644));
  try {
    ReplaceFileContent(dir / "no/f.bin", "x", 1);
    ADD_FAILURE() << "no create error";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.message(), Format(SFCreateError, dir / "no/f.bin", "fichier ou dossier introuvable"));
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path), {}), 1);
}

// Content written into the stream in pieces lands whole; an error of the writer leaves the previous
// file and no temporary one, and passes on unchanged.
TEST(Streams, ReplaceFileContentFromAWriter) {
  test::TempDir dir;
  const std::string name = dir / "f.bin";
  ReplaceFileContent(name, [](TStream& file) {
    file.WriteBuffer("ab", 2);
    EXPECT_EQ(file.Position(), 2);
    file.WriteBuffer("cde", 3);
  });
  auto content = [&] {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(content(), "abcde");
  EXPECT_THROW(ReplaceFileContent(name,
                                  [](TStream& file) {
                                    file.WriteBuffer("xyz", 3);
                                    throw EInvalidGraphic("stop");
                                  }),
               EInvalidGraphic);
  EXPECT_EQ(content(), "abcde");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path), {}), 1);
}

}  // namespace
}  // namespace muralo
