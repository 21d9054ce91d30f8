#include "netconfig/collect_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace ipmod {
namespace {

// One poll of a scripted command: what it writes before the poll's peek, what it writes between
// the peek and the end test (the last words of a command that is ending), and whether it has
// ended by the time of the end test.
struct Poll {
  std::string beforePeek;
  std::string beforeEndTest;
  bool ended = false;
};

// Plays a command's pipe poll by poll. Once its end has been seen, every peek finds `afterEnd`
// more (a program the command left running in the background).
class ScriptedSource : public OutputSource {
 public:
  explicit ScriptedSource(std::vector<Poll> polls, std::string afterEnd = "")
      : polls_(std::move(polls)), afterEnd_(std::move(afterEnd)) {}

  uint32_t BytesWaiting() override {
    if (endSeen_) {
      // Bounded, so that a collection that waits for the pipe to run dry fails instead of hanging.
      if (++peeksAfterEnd_ <= 50) pipe_ += afterEnd_;
    } else if (current_ < polls_.size()) {
      pipe_ += polls_[current_].beforePeek;
      polls_[current_].beforePeek.clear();
    }
    return static_cast<uint32_t>(pipe_.size());
  }

  uint32_t Read(ByteBlock& block) override {
    const std::size_t count = std::min(block.size(), pipe_.size());
    std::copy(pipe_.begin(), pipe_.begin() + count, block.begin());
    pipe_.erase(0, count);
    reads.push_back(count);
    return static_cast<uint32_t>(count);
  }

  bool HasEnded() override {
    if (current_ < polls_.size()) {
      pipe_ += polls_[current_].beforeEndTest;
      polls_[current_].beforeEndTest.clear();
      endSeen_ = polls_[current_].ended;
    } else {
      endSeen_ = true;
    }
    return endSeen_;
  }

  void Pause() override {
    ++pauses;
    if (current_ < polls_.size()) ++current_;
  }

  std::string Left() const { return pipe_; }

  int pauses = 0;
  std::vector<std::size_t> reads;

 private:
  std::vector<Poll> polls_;
  std::size_t current_ = 0;
  bool endSeen_ = false;
  int peeksAfterEnd_ = 0;
  std::string pipe_;
  std::string afterEnd_;
};

TEST(CollectOutputTest, PiecesAreJoinedInArrivalOrder) {
  const struct {
    const char* what;
    std::vector<Poll> polls;
    std::string expected;
  } cases[] = {
      {"nothing at all", {{"", "", true}}, ""},
      {"one piece", {{"netsh: ok\r\n", "", false}, {"", "", true}}, "netsh: ok\r\n"},
      {"pieces with quiet polls between",
       {{"a", "", false}, {"", "", false}, {"bc", "", false}, {"", "", false}, {"d", "", true}},
       "abcd"},
      // Bytes waiting when the end is seen are read first.
      {"output and end together", {{"tail", "", true}}, "tail"},
      // Written after the empty peek, just before the end: still in the pipe afterwards.
      {"last words", {{"first ", "", false}, {"", "last words", true}}, "first last words"},
      {"last words only", {{"", "\xC8\xB7\xB6\xA8\r\n", true}}, "\xC8\xB7\xB6\xA8\r\n"},
      // A zero byte cuts the piece it is in; the next read starts a new piece.
      {"zero byte", {{std::string("ab\0cd", 5), "", false}, {"ef", "", true}}, "abef"},
  };
  for (const auto& c : cases) {
    ScriptedSource source(c.polls);
    EXPECT_EQ(CollectOutput(source), c.expected) << c.what;
    EXPECT_EQ(source.Left(), "") << c.what << ": not everything was read";
  }
}

TEST(CollectOutputTest, WaitsBetweenPollsButNotBeforeTheFirst) {
  ScriptedSource endedAtOnce({{"", "", true}});
  EXPECT_EQ(CollectOutput(endedAtOnce), "");
  EXPECT_EQ(endedAtOnce.pauses, 0);

  ScriptedSource threePolls({{"a", "", false}, {"", "", false}, {"", "", true}});
  EXPECT_EQ(CollectOutput(threePolls), "a");
  EXPECT_EQ(threePolls.pauses, 2);
}

TEST(CollectOutputTest, EachReadAsksForWhatThePeekReported) {
  ScriptedSource source({{"abc", "", false}, {"defgh", "", false}, {"", "", true}});
  EXPECT_EQ(CollectOutput(source), "abcdefgh");
  EXPECT_EQ(source.reads, (std::vector<std::size_t>{3, 5}));
}

TEST(CollectOutputTest, AProgramLeftWritingAfterTheEndIsNotWaitedFor) {
  // Every peek after the end finds one more byte: only what was there when the end was seen
  // is taken, and the collection ends.
  ScriptedSource source({{"out", "", false}, {"", "", true}}, "z");
  EXPECT_EQ(CollectOutput(source), "outz");
}

TEST(CollectOutputTest, MoreThanOneReadCanHoldIsTakenInSeveral) {
  const std::string big((1u << 20) + 5, 'x');
  ScriptedSource source({{big, "", false}, {"", "", true}});
  EXPECT_EQ(CollectOutput(source), big);
  EXPECT_EQ(source.reads, (std::vector<std::size_t>{1u << 20, 5}));
}

}  // namespace
}  // namespace ipmod
