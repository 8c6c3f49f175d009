#pragma once

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/loader_link.h"
#include "sim/inprocess_port.h"
#include "support/srecord_text.h"
#include "sim/simulator.h"

namespace vok::test {

// The simulated controller wired to a real loader link in this process:
// COM1 reaches it, COM2 is a port that cannot be opened.
struct SimTarget {
  explicit SimTarget(sim::Options options = {}) : sim(options) {
    auto port = std::make_unique<sim::InProcessPort>(sim);
    this->port = port.get();
    link = std::make_unique<LoaderLink>(std::move(port));
    link->SetPortTable({{"COM1", "sim-com1"}, {"COM2", "missing-com2"}});
  }
  sim::Simulator sim;
  sim::InProcessPort* port = nullptr;
  std::unique_ptr<LoaderLink> link;
};

// A run of bytes at a target address.
struct DataBlock {
  uint32_t address;
  std::vector<uint8_t> bytes;
};

// Writes an S-record file: an S0 header record with the text, then each
// block as S2 records of 32 bytes, then an S8 record; lines end in CR LF.
inline void WriteSRecordFile(const std::string& path, const std::string& header,
                             const std::vector<DataBlock>& blocks) {
  std::string text = test::SRecordLine('0', 0, reinterpret_cast<const uint8_t*>(header.data()), header.size());
  for (const DataBlock& block : blocks) {
    for (size_t i = 0; i < block.bytes.size(); i += 32) {
      const size_t n = std::min<size_t>(32, block.bytes.size() - i);
      text += test::SRecordLine('2', block.address + static_cast<uint32_t>(i), block.bytes.data() + i, n);
    }
  }
  text += test::SRecordLine('8', 0, nullptr, 0);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

// Runs the action on the first modal window of type T that opens, from
// inside its own modal loop.
template <typename T>
void WhenModal(std::function<bool(T&)> action) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, action] {
    if (auto* window = qobject_cast<T*>(QApplication::activeModalWidget())) {
      if (action(*window)) timer->deleteLater();
    }
  });
  timer->start();
}

}  // namespace vok::test
