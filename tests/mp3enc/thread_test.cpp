// SPDX-License-Identifier: GPL-2.0-or-later
// Four encodes at once, each on its own handle, give the same bytes as the same four run one
// after another: the handles share nothing but read-only tables built once. The threads start
// together behind a gate, so the process-wide first-use paths are raced on purpose.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "mp3enc/random_numbers.h"
#include "mp3enc/velmora_enc.h"

using namespace quillion::mp3enc;

namespace {

struct Job {
  int rate, bitrate, channels, mode;
};

// Encodes half a second of a tone pair through the handle API into memory.
std::vector<std::uint8_t> encode(const Job& job) {
  VelmoraEnc* h = nullptr;
  std::vector<std::uint8_t> stream;
  int block = 0;
  if (TESK_VelmoraEnc_Open(&h, job.rate, job.bitrate, job.channels, job.mode, 0) != kEncOk ||
      TESK_VelmoraEnc_Init(h, &block) != kEncOk) {
    TESK_VelmoraEnc_Free(h);
    return stream;
  }
  const int total = job.rate / 2 * job.channels;
  std::vector<float> input(static_cast<std::size_t>(total));
  for (int i = 0; i < total; ++i) {
    const double t = static_cast<double>(i / job.channels) / job.rate;
    input[static_cast<std::size_t>(i)] =
        static_cast<float>(0.3 * std::sin(2 * M_PI * (440.0 + 110.0 * (i % job.channels)) * t));
  }
  std::vector<std::uint8_t> out(8192);
  int position = 0, wanted = block;
  for (int guard = 0; guard < 10000; ++guard) {
    int count = std::min(wanted, total - position);
    const int offered = count;
    int produced = 0;
    if (TESK_VelmoraEnc_EncodeFrame(h, input.data() + position, &count, &wanted, 8192, out.data(),
                                    &produced) != kEncOk) {
      stream.clear();
      break;
    }
    position += offered - count;
    stream.insert(stream.end(), out.begin(), out.begin() + produced);
    if (offered == 0 && produced == 0) break;
  }
  TESK_VelmoraEnc_Free(h);
  return stream;
}

}  // namespace

TEST(Mp3EncThreads, FourEncodesAtOnceEqualFourInTurn) {
  const Job jobs[4] = {
      {44100, 128000, 2, 0}, {48000, 64000, 1, 0}, {22050, 64000, 2, 1}, {96000, 128000, 2, 0}};
  std::vector<std::vector<std::uint8_t>> concurrent(4);
  std::mutex m;
  std::condition_variable cv;
  bool open = false;
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return open; });
      }
      concurrent[static_cast<std::size_t>(i)] = encode(jobs[i]);
    });
  }
  {
    std::lock_guard lock(m);
    open = true;
  }
  cv.notify_all();
  for (auto& t : threads) t.join();
  for (int i = 0; i < 4; ++i) {
    const std::vector<std::uint8_t> sequential = encode(jobs[i]);
    ASSERT_GT(sequential.size(), 1000u) << "job " << i;
    EXPECT_EQ(concurrent[static_cast<std::size_t>(i)], sequential) << "job " << i;
  }
}

// Four threads drawing random numbers at once get, between them, exactly the numbers one
// thread drawing them all would get: the generator's state is never torn.
TEST(Mp3EncThreads, RandomNumbersDrawnAtOnceAreTheSequentialOnes) {
  constexpr int kEach = 20000;
  zufalli(4242);
  std::vector<double> sequential(4 * kEach);
  zufall(4 * kEach, sequential.data());

  zufalli(4242);
  std::vector<std::vector<double>> drawn(4);
  std::mutex m;
  std::condition_variable cv;
  bool open = false;
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return open; });
      }
      auto& mine = drawn[static_cast<std::size_t>(i)];
      for (int k = 0; k < kEach / 100; ++k) {
        double part[100];
        zufall(100, part);
        mine.insert(mine.end(), part, part + 100);
      }
    });
  }
  {
    std::lock_guard lock(m);
    open = true;
  }
  cv.notify_all();
  for (auto& t : threads) t.join();
  std::vector<double> together;
  for (const auto& d : drawn) together.insert(together.end(), d.begin(), d.end());
  std::sort(together.begin(), together.end());
  std::sort(sequential.begin(), sequential.end());
  EXPECT_EQ(together, sequential);
}
