// Power cuts, torn flash operations, random multi-cut runs and a noisy line,
// each through the real update procedure on the in-process controller. Built
// twice: the short version runs in the normal suite, the full sweep
// (VOK_RELIABILITY_LONG) under the CTest label "long".

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "backup/backup_procedure.h"
#include "image/update_file.h"
#include "reliability/scenario.h"

namespace vok::reliability {
namespace {

constexpr bool kLong = VOK_RELIABILITY_LONG != 0;

// The cut points of a sweep: all of them in the long run; in the short run
// all for a small update, else the first and last few and a sample between.
std::vector<int> CutPoints(int commands) {
  std::vector<int> out;
  const int step = commands > 100 ? 97 : 11;
  for (int n = 1; n <= commands; ++n)
    if (kLong || commands <= 20 || n <= 4 || n > commands - 2 || n % step == 0) out.push_back(n);
  return out;
}

// What follows an interruption: Retry, or Cancel and the second update.
enum class Then { kResume, kSecondUpdate };

// Interrupts one update at flash command n (torn or cut after it), then
// powers on and either answers Retry or updates from the second file
// instead. true when the memory is as expected; the trace says what went
// wrong otherwise.
::testing::AssertionResult InterruptThen(const Reference& r, int n, bool tear, Then then) {
  Scenario s(r);
  sim::Options cut = s.Power();
  (tear ? cut.tear : cut.cut_after) = n;
  s.PowerOn(cut);
  if (s.Update() != 0) return ::testing::AssertionFailure() << "the interrupted run succeeded";
  if (!s.bench.sim().PoweredOff()) return ::testing::AssertionFailure() << "no power cut";
  // A cut before the first flash command would leave no marker; every cut
  // here falls on one, so the update must be pending.
  if (!s.Pending()) return ::testing::AssertionFailure() << "no marker after the cut";
  s.PowerOn(s.Power());
  const bool resume = then == Then::kResume;
  if ((resume ? s.Update() : s.UpdateInstead()) != 1)
    return ::testing::AssertionFailure() << (resume ? "resume failed" : "second update failed");
  if (s.Pending()) return ::testing::AssertionFailure() << "marker left after success";
  if (!(s.Now() == (resume ? Expected(r) : ExpectedAfterSecond(r))))
    return ::testing::AssertionFailure() << "wrong memory";
  return ::testing::AssertionSuccess();
}

void Sweep(bool tear, Then then) {
  for (const Reference& r : References()) {
    const int commands = FlashCommandsOf(r);
    ASSERT_GT(commands, 0) << r.name;
    int ok = 0, runs = 0;
    for (int n : CutPoints(commands)) {
      ++runs;
      auto result = InterruptThen(r, n, tear, then);
      EXPECT_TRUE(result) << r.name << (tear ? " torn at " : " cut after ") << n;
      if (result) ++ok;
    }
    std::printf("%s %s, then %s: %d of %d cut points of %d commands ended as expected\n",
                tear ? "tear" : "cut", r.name.c_str(),
                then == Then::kResume ? "resume" : "the second update", ok, runs, commands);
  }
}

TEST(VOK_SUITE, PowerCutAtEveryFlashCommandThenResume) { Sweep(false, Then::kResume); }

TEST(VOK_SUITE, TornAtEveryFlashCommandThenResume) { Sweep(true, Then::kResume); }

// Cancel at the question and another update: what the interrupted update
// kept survives, in the sectors the second update touches and the others.
TEST(VOK_SUITE, PowerCutAtEveryFlashCommandThenAnotherUpdate) {
  Sweep(false, Then::kSecondUpdate);
}

// Seeded runs with up to five interruptions each, cut or torn at a random
// flash command of the run in progress; then Retry until one run is left
// alone. Each ends with the expected memory.
TEST(VOK_SUITE, RandomMultiCutRuns) {
  const int runs = kLong ? 1000 : 50;
  int ok = 0, interruptions = 0;
  for (int seed = 1; seed <= runs; ++seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    // The short version takes the big update less often: it costs most.
    const int big_every = kLong ? 3 : 10;
    const Reference& r = References()[seed % big_every == 0 ? 2 : seed % 2 == 0 ? 0 : 1];
    const int commands = FlashCommandsOf(r);
    ASSERT_GT(commands, 0);
    Scenario s(r);
    const int cuts = 1 + static_cast<int>(rng() % 5);
    bool broken = false;
    for (int k = 0; k < cuts && !broken; ++k) {
      sim::Options o = s.Power();
      const int at = 1 + static_cast<int>(rng() % static_cast<unsigned>(commands));
      (rng() % 4 == 0 ? o.tear : o.cut_after) = at;
      s.PowerOn(o);
      // A resumed run redoes every command; a cut beyond its last one
      // lets it finish, which is as good.
      if (s.Update() == 1) break;
      ++interruptions;
      if (!s.bench.sim().PoweredOff()) broken = true;
    }
    s.PowerOn(s.Power());
    if (s.Pending() || !(s.Now() == Expected(r))) {
      if (s.Update() != 1) broken = true;
    }
    const bool good = !broken && !s.Pending() && s.Now() == Expected(r);
    EXPECT_TRUE(good) << "seed " << seed << " (" << r.name << ")";
    if (good) ++ok;
  }
  std::printf("random cuts: %d of %d runs (%d interruptions) ended with the expected memory\n", ok,
              runs, interruptions);
}

struct NoiseFigures {
  int runs = 0, succeeded = 0, succeeded_wrong = 0, failed = 0, recovered = 0;
};

const char* CheckName(ProgramCheck check) {
  return check == ProgramCheck::kChecksum   ? "default checks"
         : check == ProgramCheck::kReadBack ? "--verify"
                                            : "--no-verify";
}

// Seeded update runs on a noisy line. A run that reports success must have
// written the expected memory (counted when it did not); a failed run is
// retried on a clean line (resumed when its marker exists, else fresh) and
// must then end with the expected memory.
NoiseFigures NoisyRuns(double p, ProgramCheck check, int runs) {
  NoiseFigures f;
  const Reference& r = References()[1];
  for (int seed = 1; seed <= runs; ++seed) {
    Scenario s(r);
    sim::Options o = s.Power();
    o.noise = p;
    o.seed = static_cast<uint64_t>(seed) * 7919 + static_cast<uint64_t>(check);
    s.PowerOn(o);
    ++f.runs;
    if (s.Update(check) == 1) {
      ++f.succeeded;
      if (!(s.Now() == Expected(r))) ++f.succeeded_wrong;
      continue;
    }
    ++f.failed;
    s.PowerOn(s.Power());
    if (s.Update(check) == 1 && s.Now() == Expected(r)) ++f.recovered;
  }
  std::printf("noise %g, %s: %d runs, %d succeeded (%d of them with wrong memory), %d failed, "
              "%d of those recovered\n",
              p, CheckName(check), f.runs, f.succeeded, f.succeeded_wrong, f.failed, f.recovered);
  return f;
}

TEST(VOK_SUITE, NoisyLineWithChecksNeverReportsWrongMemory) {
  const int runs = kLong ? 200 : 4;
  for (ProgramCheck check : {ProgramCheck::kChecksum, ProgramCheck::kReadBack}) {
    for (double p : {1e-4, 1e-3}) {
      NoiseFigures f = NoisyRuns(p, check, runs);
      EXPECT_EQ(f.succeeded_wrong, 0) << p << " " << CheckName(check);
      EXPECT_EQ(f.recovered, f.failed) << p << " " << CheckName(check);
    }
  }
}

// With the programming check off a success can hide wrong memory (the frame
// checksum is an XOR); the figure is printed, and failed runs must still
// recover.
TEST(VOK_SUITE, NoisyLineWithoutProgrammingCheckRecovers) {
  const int runs = kLong ? 200 : 4;
  for (double p : {1e-4, 1e-3}) {
    NoiseFigures f = NoisyRuns(p, ProgramCheck::kNone, runs);
    EXPECT_EQ(f.recovered, f.failed) << p;
  }
}

const char* LoaderName(sim::LoaderSum sum) {
  return sum == sim::LoaderSum::kOwn ? "checksum of no known kind"
                                     : sim::LoaderSumNames()[static_cast<size_t>(sum)].c_str();
}

// The data of one program request, or of one read reply, damaged so that
// the frame's XOR still matches, at every one of them in the 504-command
// update, against a loader of that checksum. A damaged record fails the
// run, which a resume completes; a damaged read is read again. No run
// succeeds with wrong memory.
void DamageAtEveryRecord(sim::LoaderSum sum, sim::DamageKind kind) {
  const Reference& r = References()[2];
  int programs = 0, data_replies = 0;
  {
    Scenario s(r);
    sim::Options o = s.Power();
    o.checksum = sum;
    s.PowerOn(o);
    ASSERT_EQ(s.Update(), 1);
    programs = static_cast<int>(s.bench.sim().stats().programs);
    data_replies = static_cast<int>(s.bench.sim().stats().data_replies);
    ASSERT_GT(data_replies, 0);
  }
  for (bool program : {true, false}) {
    int runs = 0, right = 0, wrong_successes = 0;
    const int count = program ? programs : data_replies;
    // The short version: the first two, one in the middle, the last.
    std::vector<int> points = kLong ? CutPoints(count) : std::vector<int>{1, 2, count / 2, count};
    for (int n : points) {
      Scenario s(r);
      sim::Options o = s.Power();
      o.checksum = sum;
      o.damage = kind;
      (program ? o.damage_program : o.damage_read) = n;
      s.PowerOn(o);
      const int first = s.Update();
      if (first == 1 && !(s.Now() == Expected(r))) ++wrong_successes;
      EXPECT_EQ(first, program ? 0 : 1) << LoaderName(sum) << " " << n;
      if (first != 1) {
        s.PowerOn(s.Power());
        EXPECT_EQ(s.Update(), 1) << LoaderName(sum) << " " << n;
      }
      ++runs;
      if (s.Now() == Expected(r) && !s.Pending()) ++right;
    }
    EXPECT_EQ(wrong_successes, 0) << LoaderName(sum);
    EXPECT_EQ(right, runs) << LoaderName(sum);
    std::printf("damaged %s (%s), %s: %d runs of %d, %d wrong successes, %d ended with the expected "
                "memory\n",
                program ? "program request" : "read reply",
                kind == sim::DamageKind::kXor ? "XOR-blind" : "sum-blind", LoaderName(sum), runs,
                count, wrong_successes, right);
  }
}

// Against a loader whose checksum is a CRC, and one whose is of no known
// kind.
TEST(VOK_SUITE, DamagedRequestOrReplyAtEveryRecord) {
  for (sim::LoaderSum sum : {sim::LoaderSum::kCcittFalse, sim::LoaderSum::kOwn})
    DamageAtEveryRecord(sum, sim::DamageKind::kXor);
}

// Against each loader whose sum the damage leaves as it was (a bit moved
// between two bytes two apart): the sum is named, the bytes are read.
TEST(VOK_SUITE, SumBlindDamageAtEveryRecordWithEachSumLoader) {
  using S = sim::LoaderSum;
  for (S sum : {S::kSum16, S::kOnesSum16, S::kInternet16, S::kFletcher16})
    DamageAtEveryRecord(sum, sim::DamageKind::kSumBlind);
}

// A backup of the whole controller whose n-th data read (0: none) is
// damaged past the frame check and the sums: 1 when it succeeded with
// the memory in its file, 0 when it failed, -1 when it succeeded wrong.
int DamagedBackup(sim::LoaderSum sum, int n, int* data_replies) {
  Scenario s(References()[0]);
  sim::Options o = s.Power();
  o.checksum = sum;
  o.damage = sim::DamageKind::kSumBlind;
  o.damage_read = n;
  s.PowerOn(o);
  BackupContext c{s.bench.link(), s.bench.paths, s.bench.ui, s.bench.log, s.bench.progress};
  BackupFields fields{DefaultBackupFileName(s.bench.paths, test::FixedTime()), 0, 38400};
  const int result = RunBackup(c, fields, test::FixedTime());
  if (data_replies) *data_replies = static_cast<int>(s.bench.sim().stats().data_replies);
  if (result != 1) return 0;
  MemoryImage image;
  MemoryRangeList ranges;
  test::ScriptedUi ui;
  if (image.Open(0, s.bench.dir.folder()) != 0 || LoadUpdateFile(fields.file_name, image, ranges, ui) != 1)
    return -1;
  for (auto [start, length] : {std::pair{sim::kRamStart, sim::kRamSize}, std::pair{0x84000u, 0x7C000u}}) {
    std::vector<uint8_t> held(length);
    image.Fetch(start, held.data(), length);
    if (held != s.bench.sim().ReadMemory(start, length)) return -1;
  }
  return 1;
}

// Every read of a backup damaged in turn, with each loader whose sum the
// damage leaves as it was: the damaged read is read again, and the file
// holds the memory.
TEST(VOK_SUITE, SumBlindDamagedReadAtEveryReadOfABackup) {
  using S = sim::LoaderSum;
  for (S sum : {S::kSum16, S::kOnesSum16, S::kInternet16, S::kFletcher16}) {
    int count = 0;
    ASSERT_EQ(DamagedBackup(sum, 0, &count), 1) << LoaderName(sum);
    std::vector<int> points = kLong ? CutPoints(count) : std::vector<int>{1, count / 2, count};
    int runs = 0, right = 0, wrong_successes = 0;
    for (int n : points) {
      const int outcome = DamagedBackup(sum, n, nullptr);
      ++runs;
      if (outcome < 0) ++wrong_successes;
      if (outcome > 0) ++right;
    }
    EXPECT_EQ(wrong_successes, 0) << LoaderName(sum);
    EXPECT_EQ(right, runs) << LoaderName(sum);
    std::printf("backup, damaged read (sum-blind), %s: %d runs of %d, %d wrong successes, %d right "
                "files\n",
                LoaderName(sum), runs, count, wrong_successes, right);
  }
}

// A loader whose checksum covers one byte more or less at either end: never
// identified, so the update confirms by reading and succeeds.
TEST(VOK_SUITE, LoaderChecksumOffByOneByteIsNeverIdentified) {
  using K = sim::ChecksumSkew;
  std::vector<sim::LoaderSum> sums = {sim::LoaderSum::kCcittFalse, sim::LoaderSum::kXmodem,
                                      sim::LoaderSum::kSum16};
  if (kLong) {
    sums.clear();
    for (size_t i = 0; i + 1 < sim::LoaderSumNames().size(); ++i) sums.push_back(static_cast<sim::LoaderSum>(i));
  }
  int runs = 0, succeeded = 0, identified = 0;
  for (size_t ref = kLong ? 0 : 2; ref < References().size(); ++ref) {
    const Reference& r = References()[ref];
    for (sim::LoaderSum sum : sums) {
      for (K skew : {K::kStartEarly, K::kStartLate, K::kEndLate, K::kEndEarly}) {
        Scenario s(r);
        sim::Options o = s.Power();
        o.checksum = sum;
        o.checksum_skew = skew;
        s.PowerOn(o);
        ++runs;
        const bool ok = s.Update() == 1 && s.Now() == Expected(r);
        if (ok) ++succeeded;
        const bool unknown = std::find(s.bench.log.lines.begin(), s.bench.log.lines.end(),
                                       "Confirmed by reading (loader checksum of no known kind)") !=
                             s.bench.log.lines.end();
        if (!unknown) ++identified;
        EXPECT_TRUE(ok && unknown) << r.name << " " << LoaderName(sum) << " skew " << static_cast<int>(skew);
      }
    }
  }
  std::printf("off-by-one checksum loader: %d runs, %d succeeded, %d with the loader identified\n",
              runs, succeeded, identified);
}

// The reference updates, and each again clearing (0xFF in the file) 1 KiB
// of old data, off its records, in each touched sector that has room: only
// there does the plan leave a gap over bytes that are not erased already.
const std::vector<Reference>& UpdatesForErasing() {
  static const std::vector<Reference> updates = [] {
    const std::vector<std::vector<uint32_t>> cleared = {{0x86B10}, {0x86010, 0x88610}, {0xC5010}};
    std::vector<Reference> out = References();
    for (size_t i = 0; i < cleared.size(); ++i) {
      out.push_back({out[i].name + "_clearing", out[i].records});
      for (uint32_t at : cleared[i]) out.back().records.push_back({at, std::vector<uint8_t>(0x400, 0xFF)});
    }
    return out;
  }();
  return updates;
}

// An erase acknowledged but carried out only in part, at each touched sector
// of each update: half the sector, the stretch the update clears, or (long)
// 1 KiB at 32 places of it, left with its old bytes. No run succeeds with
// wrong memory; a failed run is resumed to the expected memory. Without the
// erased flash's check, runs that clear a stretch end "succeeded" over the
// old bytes.
TEST(VOK_SUITE, PartialEraseAtEveryTouchedSector) {
  int runs = 0, wrong = 0, by_check = 0, failed = 0, resumed = 0, wrong_unchecked = 0;
  for (const Reference& r : UpdatesForErasing()) {
    for (const sim::Sector& sector : sim::kSectors) {
      if (std::none_of(r.records.begin(), r.records.end(), [&](const test::Record& rec) {
            return rec.address < sector.start + sector.length &&
                   rec.address + rec.data.size() > sector.start;
          }))
        continue;
      // (address, length, whether it is a cleared stretch)
      std::vector<std::tuple<uint32_t, uint32_t, bool>> stale = {
          {sector.start, sector.length / 2, false}, {sector.start + sector.length / 2, 0, false}};
      for (const test::Record& rec : r.records)
        if (rec.data[0] == 0xFF && rec.address - sector.start < sector.length)
          stale.push_back({rec.address, 0x400, true});
      // Long: 1 KiB at 32 places of the sector.
      for (uint32_t at = sector.start; kLong && at < sector.start + sector.length;
           at += sector.length / 32)
        stale.push_back({at, 0x400, false});
      for (const auto& [at, length, cleared] : stale) {
        for (bool checked : {true, false}) {
          if (!checked && !cleared) continue;
          Scenario s(r);
          sim::Options o = s.Power();
          o.partial_erase = at;
          o.partial_erase_length = length;
          s.PowerOn(o);
          s.bench.options.check_erased = checked;
          const int result = s.Update();
          if (result == 1 && !(s.Now() == Expected(r))) ++(checked ? wrong : wrong_unchecked);
          if (!checked) continue;
          ++runs;
          if (result == 1) continue;
          ++failed;
          const auto& lines = s.bench.log.lines;
          by_check += std::count(lines.begin(), lines.end(), "Checking erased flash failed");
          s.PowerOn(s.Power());
          resumed += s.Update() == 1 && s.Now() == Expected(r) && !s.Pending();
        }
      }
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(resumed, failed);
  EXPECT_GT(by_check, 0);
  EXPECT_GT(wrong_unchecked, 0);
  std::printf("partial erase: %d runs, %d wrong successes, %d failed (%d by the erased flash's "
              "check), %d of those resumed to the expected memory; without the check %d wrong "
              "successes\n",
              runs, wrong, failed, by_check, resumed, wrong_unchecked);
}

}  // namespace
}  // namespace vok::reliability
