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
  auto record = [](char type, uint32_t addr, int addr_bytes, const uint8_t* bytes, size_t n) {
    std::vector<uint8_t> body;
    body.push_back(static_cast<uint8_t>(addr_bytes + n + 1));
    for (int i = addr_bytes - 1; i >= 0; --i) body.push_back(static_cast<uint8_t>(addr >> (8 * i)));
    body.insert(body.end(), bytes, bytes + n);
    unsigned sum = 0;
    for (uint8_t b : body) sum += b;
    body.push_back(static_cast<uint8_t>(~sum));
    std::string line = std::string("S") + type;
    char hex[3];
    for (uint8_t b : body) {
      std::snprintf(hex, sizeof hex, "%02X", b);
      line += hex;
    }
    return line + "\r\n";
  };
  std::string text = record('0', 0, 2, reinterpret_cast<const uint8_t*>(header.data()), header.size());
  for (const DataBlock& block : blocks) {
    for (size_t i = 0; i < block.bytes.size(); i += 32) {
      const size_t n = std::min<size_t>(32, block.bytes.size() - i);
      text += record('2', block.address + static_cast<uint32_t>(i), 3, block.bytes.data() + i, n);
    }
  }
  text += record('8', 0, 3, nullptr, 0);
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
