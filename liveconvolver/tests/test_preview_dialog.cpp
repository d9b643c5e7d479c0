// The preview through the module's real settings dialog, as the host runs it: a second
// thread that reads the document through the host's callbacks and talks to the dialog by
// posted messages, so this target also runs under ThreadSanitizer. It plays and is stopped
// by its button; the worker ends it itself when the device cannot be opened and when the
// user answers No to the too-slow question; each time the controls come back.
#include <gtest/gtest.h>

#include "host/core/wavfile.h"
#include "host/testing.h"
#include "liveconvolver/tests/noise_document.h"

namespace {

using namespace tovrel::host;
using namespace tovrel::host::testing;
namespace tp = tovrel::portable;
using Kind = UserAction::Kind;

class PreviewDialog : public ::testing::Test {
 protected:
  void TearDown() override {
    tp::SetVirtualWaveSpeed(1);
    tp::SetWaveDevices({});
  }
  // IR1 loaded from a file and routed from the left input to the left output, then the
  // preview played for `seconds` from the dialog.
  RunReport Preview(Document& doc, long responseFrames, double seconds, std::optional<bool> answer = {}) {
    Document ir = NoiseDocument(1, responseFrames, 3);
    const std::string path = host_.store().home() + "/ir.wav";
    EXPECT_TRUE(WriteWavFile(path, ir));
    RunOptions o;
    o.actions = {{Kind::Tab, "", "IR #1"}, {Kind::OpenFile, "", path}, {Kind::Press, "File", ""},
                 {Kind::Tab, "", "Monitor"}, {Kind::Set, "1007", "on"}};
    o.previewSeconds = seconds;
    o.answer = answer;
    o.presses = {"Cancel"};
    return host_.Run("livefold", doc, o);
  }
  // The dialog as it closed: the preview's button says "Preview" and the controls act.
  static void ExpectControlsBack(const RunReport& r) {
    const tp::DialogState* d = FindDialog(r, 119);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Find(1229)->text, "Preview");
    for (int id : {1, 2, 1007, 1230}) EXPECT_TRUE(d->Find(id)->enabled) << id;
  }
  TestHost host_;
};

TEST_F(PreviewDialog, PlaysUntilItsButtonStopsIt) {
  const std::string recording = host_.store().home() + "/played.wav";
  tp::SetWaveDevices({"virtual:" + recording});
  tp::SetVirtualWaveSpeed(4);
  Document doc = NoiseDocument(2, 20000, 9);
  const RunReport r = Preview(doc, 500, 0.4);
  EXPECT_TRUE(MessageBoxes(r).empty());
  ExpectControlsBack(r);
  Document played;
  std::string error;
  ASSERT_TRUE(ReadWavFile(recording, played, error)) << error;
  EXPECT_GT(played.frames(), 0);
}

TEST_F(PreviewDialog, TheWorkerEndsItWhenTheDeviceFailsOrTheUserSaysNo) {
  tp::SetWaveDevices({"virtual:" + host_.store().home() + "/no/such/folder/played.wav"});
  Document doc = NoiseDocument(2, 20000, 9);
  RunReport r = Preview(doc, 500, 2);
  auto boxes = MessageBoxes(r);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]->caption, "Output Device Error!");
  ExpectControlsBack(r);

  // A device that is always dry before the next block: the question comes, No ends it.
  tp::SetWaveDevices({"virtual"});
  tp::SetVirtualWaveSpeed(1e6);
  Document longer = NoiseDocument(2, 200000, 10);
  r = Preview(longer, 3000, 5, false);
  boxes = MessageBoxes(r);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]->caption, "Playback Error!");
  ExpectControlsBack(r);
}

}  // namespace
