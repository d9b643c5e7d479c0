// The shared session: what the callbacks do to the document, the result rule by kind of
// module, and temporary files.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "host/session.h"

namespace tovrel::host {
namespace {

Document Ramp(long frames, int channels) {
  Document d = Document::Empty(8000, channels);
  for (long k = 0; k < frames * channels; ++k) d.samples.push_back(static_cast<int16_t>(k + 1));
  d.SelectAll();
  return d;
}

std::string g_tempName;

// A convolver as the convolvers work: room for M - 1 = 3 more frames after the
// selection, the selection rewritten, the new selection length returned.
LONG WINAPI ConvolverDo(XfmContext* c) {
  char name[MAX_PATH];
  if (!c->tempFileName("FLO", name)) return -1;
  g_tempName = name;
  const LONG frameBytes = 2 * c->channels;
  const LONG length = c->selEnd - c->selStart + 1;
  if (c->insertSamples((c->selEnd + 1) * frameBytes, 3 * frameBytes) != 0) return -1;
  std::vector<int16_t> out(static_cast<std::size_t>((length + 3) * c->channels), -7);
  if (c->writeSamples(out.data(), c->selStart * frameBytes, static_cast<LONG>(out.size() * 2)) != 0) return -1;
  return length + 3;
}

// A convolver that fails after growing the document and takes its tail back.
LONG WINAPI FailingConvolverDo(XfmContext* c) {
  const LONG frameBytes = 2 * c->channels;
  const LONG length = c->selEnd - c->selStart + 1;
  EXPECT_EQ(c->insertSamples((c->selEnd + 1) * frameBytes, 3 * frameBytes), 0);
  EXPECT_NE(c->deleteSamples((c->selEnd + 1) * frameBytes, 1000 * frameBytes), 0) << "past the end";
  EXPECT_NE(c->deleteSamples((c->selEnd + 1) * frameBytes + 2, 3 * frameBytes), 0) << "not a frame boundary";
  EXPECT_EQ(c->deleteSamples((c->selEnd + 1) * frameBytes, 3 * frameBytes), 0);
  return length;
}

// A generator writing 5 frames at the selection, announced or not.
LONG WINAPI GeneratorDo(XfmContext* c) {
  std::vector<int16_t> out(static_cast<std::size_t>(5 * c->channels), 99);
  c->writeSamples(out.data(), c->selStart * 2 * c->channels, static_cast<LONG>(out.size() * 2));
  return 5;
}

TEST(Session, ConvolverGrowsTheDocumentAndRaisesSelEnd) {
  const std::string dir = ::testing::TempDir() + "session-tmp";
  std::filesystem::create_directories(dir);
  Document doc = Ramp(10, 2);
  doc.selStart = 2;
  doc.selEnd = 5;
  {
    Session session(doc, "Convolve", dir);
    session.context().selStart = 2;
    session.context().selEnd = 5;
    bool accepted = false;
    EXPECT_EQ(session.Do(ConvolverDo, kKindConvolver, &accepted), 7);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(session.context().selEnd, 8);
    EXPECT_EQ(session.badCalls(), 0);
    // A fresh file under the prefix in the temporary folder, there for the run.
    EXPECT_EQ(std::filesystem::path(g_tempName).parent_path(), std::filesystem::path(dir));
    EXPECT_EQ(std::filesystem::path(g_tempName).filename().string().rfind("FLO", 0), 0u);
    EXPECT_TRUE(std::filesystem::exists(g_tempName));
  }
  EXPECT_FALSE(std::filesystem::exists(g_tempName)) << "the run's temporary file outlived it";
  EXPECT_EQ(doc.frames(), 13);
  EXPECT_EQ(doc.selStart, 2);
  EXPECT_EQ(doc.selEnd, 8);
  EXPECT_EQ(doc.samples[3], 4);   // frame 1 kept
  EXPECT_EQ(doc.samples[4], -7);  // frame 2 written
  EXPECT_EQ(doc.samples[17], -7);
  EXPECT_EQ(doc.samples[18], 13);  // frame 9: the old frame 6, after the inserted room

  Document failed = Ramp(10, 2);
  const Document before = failed;
  {
    Session session(failed, "Convolve", dir);
    EXPECT_EQ(session.Do(FailingConvolverDo, kKindConvolver), 10);
    EXPECT_EQ(session.badCalls(), 2);
  }
  EXPECT_EQ(failed.samples, before.samples);
  EXPECT_EQ(failed.selEnd, 9);
  std::filesystem::remove_all(dir);
}

TEST(Session, TemporaryFilesGoToTmpdir) {
  const std::string dir = ::testing::TempDir() + "session-tmpdir";
  std::filesystem::create_directories(dir);
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", dir.c_str(), 1);
  EXPECT_EQ(TemporaryFolder(), dir);
  Document doc = Ramp(4, 1);
  std::string first, second;
  {
    Session session(doc, "Convolve");
    char a[MAX_PATH], b[MAX_PATH];
    ASSERT_EQ(session.context().tempFileName("FLO", a), 1);
    ASSERT_EQ(session.context().tempFileName("FLO", b), 1);
    first = a;
    second = b;
    EXPECT_NE(first, second);
    EXPECT_EQ(std::filesystem::path(first).parent_path(), std::filesystem::path(dir));
    std::ofstream(first) << "spill";
  }
  EXPECT_FALSE(std::filesystem::exists(first));
  EXPECT_FALSE(std::filesystem::exists(second));
  if (old) setenv("TMPDIR", saved.c_str(), 1);
  else unsetenv("TMPDIR");
  EXPECT_EQ(TemporaryFolder(), old && *old ? saved : "/tmp");
  std::filesystem::remove_all(dir);
}

TEST(Session, GeneratorReplacesTheSelectionOnlyWithTheAnnouncedLength) {
  for (LONG announced : {5, 6}) {
    Document doc = Ramp(10, 1);
    const Document before = doc;
    Session session(doc, "Generate");
    session.context().selStart = 2;
    session.context().selEnd = 3;
    session.context().outputLengthSet = 1;
    session.context().outputLength = announced;
    bool accepted = false;
    session.Do(GeneratorDo, kKindGenerator, &accepted);
    if (announced == 5) {
      EXPECT_TRUE(accepted);
      EXPECT_EQ(doc.samples, (std::vector<int16_t>{1, 2, 99, 99, 99, 99, 99, 5, 6, 7, 8, 9, 10}));
      EXPECT_EQ(doc.selEnd, 6);
    } else {
      EXPECT_FALSE(accepted) << "a result other than the announced length";
      EXPECT_EQ(doc.samples, before.samples);
      EXPECT_EQ(doc.selStart, 2);
      EXPECT_EQ(doc.selEnd, 3);
    }
  }
}

}  // namespace
}  // namespace tovrel::host
