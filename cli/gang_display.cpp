#include "cli/gang_display.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "cli/json.h"
#include "cli/json_read.h"

namespace vok::cli {

namespace {

constexpr size_t kLiveWidth = 79;
constexpr const char* kLoaderLine = "VOK Loader V";

}  // namespace

std::string Fit(std::string text, size_t width) {
  if (text.size() > width) text = text.substr(0, width - 3) + "...";
  return text + std::string(width - text.size(), ' ');
}

std::string Seconds(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", s);
  return buf;
}

// info's components as the listing names them: "VOK Kernel V3.2.1".
std::vector<std::string> ComponentLines(const std::string& components) {
  std::vector<std::string> lines;
  for (const std::string& item : ArrayItems(components)) {
    std::map<std::string, std::string> c = JsonMembers(item);
    std::string line = c["name"];
    if (c["checksum_ok"] != "true") {
      line += ": checksum test failed";
    } else if (c["version"] != "null" && !c["version"].empty()) {
      line += " V" + c["version"];
    } else if (c["text"] != "null" && !c["text"].empty()) {
      std::string text = c["text"];
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      line += ": " + text;
    }
    lines.push_back(line);
  }
  return lines;
}

GangDisplay::GangDisplay(Console& console, bool json, bool live, std::vector<GangPort>& ports)
    : console_(console), json_(json), live_(!json && live && console.ErrIsTty()), ports_(ports) {
  for (const GangPort& p : ports_) name_width_ = std::max(name_width_, p.name.size());
}

void GangDisplay::Line(size_t i, const std::string& text) {
  GangPort& p = ports_[i];
  const std::map<std::string, std::string> m = JsonMembers(text);
  auto member = [&m](const char* key) {
    auto it = m.find(key);
    return it == m.end() ? std::string() : it->second;
  };
  const std::string event = member("event");
  if (json_) {
    // The child's own line, with its port in front.
    const std::string port = "\"port\":" + JsonString(p.name);
    if (m.empty()) {
      console_.Out(JsonObject().Add("event", "message").Add("port", p.name).Add("text", text)
                       .Add("level", "error").Text());
    } else {
      console_.Out("{" + port + (text.size() > 2 ? "," : "") + text.substr(1));
    }
  }
  if (event == "step") {
    p.step = member("text") + (member("passed") == "true" ? " passed" : " failed");
    Plain(p, p.step);
  } else if (event == "message") {
    const std::string message = member("text");
    if (message.find_first_not_of(" #") != std::string::npos) p.step = message;
    // A backup names the loader among the components of its header.
    if (message.rfind(kLoaderLine, 0) == 0) p.loader_version = message.substr(std::string(kLoaderLine).size());
    Plain(p, member("text"));
  } else if (event == "progress") {
    const uint32_t done = static_cast<uint32_t>(std::strtoul(member("done").c_str(), nullptr, 10));
    const uint32_t total = static_cast<uint32_t>(std::strtoul(member("total").c_str(), nullptr, 10));
    const GangClock::time_point now = GangClock::now();
    if (done < p.done || total != p.total) {
      p.step_start = now;
      p.step_start_done = done;
    }
    const double elapsed = std::chrono::duration<double>(now - p.step_start).count();
    if (elapsed > 0.5) p.bytes_per_second = (done - p.step_start_done) / elapsed;
    p.done = done;
    p.total = total;
  } else if (event == "result") {
    p.has_result = true;
    p.ended = GangClock::now();
    p.exit = std::atoi(member("exit").c_str());
    p.message = member("message");
    if (m.count("loader_version") != 0 && member("loader_version") != "null")
      p.loader_version = member("loader_version");
    p.line_bytes = std::strtoull(member("line_bytes").c_str(), nullptr, 10);
    p.components = ComponentLines(member("components"));
  } else if (m.empty()) {
    // Not ours: a crash's last words.
    p.message = text;
    Plain(p, text);
  }
  dirty_ = true;
}

void GangDisplay::Draw(bool last) {
  if (!live_ || (!dirty_ && !last)) return;
  dirty_ = false;
  std::string text;
  if (drawn_ > 1) text += "\x1b[" + std::to_string(drawn_ - 1) + "A";
  text += "\r";
  for (size_t i = 0; i < ports_.size(); ++i) {
    const GangPort& p = ports_[i];
    std::string l = Fit(p.name, name_width_) + "  ";
    if (!p.run) {
      l += "nothing to resume";
    } else if (p.ended) {
      l += p.exit == 0 ? "done" : "ended: " + (p.message.empty() ? p.step : p.message);
    } else {
      l += p.step.empty() ? std::string("starting") : p.step;
      if (p.total > 0 && p.done < p.total) {
        l += "  " + std::to_string(static_cast<uint64_t>(p.done) * 100 / p.total) + " %";
        if (p.bytes_per_second > 0) l += "  " + std::to_string(static_cast<long>(p.bytes_per_second)) + " B/s";
      }
    }
    if (l.size() > kLiveWidth) l = l.substr(0, kLiveWidth);
    text += "\x1b[K" + l + (i + 1 < ports_.size() ? "\n" : "");
  }
  if (last) text += "\n";
  drawn_ = last ? 0 : ports_.size();
  console_.ErrRaw(text);
}

void GangDisplay::Plain(const GangPort& p, const std::string& text) {
  if (json_ || live_ || text.find_first_not_of(' ') == std::string::npos) return;
  console_.Out(p.name + ": " + text);
}

}  // namespace vok::cli
