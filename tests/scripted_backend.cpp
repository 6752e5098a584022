// The scripted backend linked into the platform core's tests.
#include "scripted_backend.h"

#include <stdexcept>

ScriptedBackend scripted;

void ScriptedBackend::reset() {
    opening.firstBytes.clear();
    opening.releasesReported = true;
    opening.resizeReported = true;
    size = ScreenSize{140, 40};
    reads.clear();
    written.clear();
    closedWith.clear();
    readsMade = 0;
    timeouts.clear();
}

namespace backend {

BackendOpening open(ScreenSize, std::string_view) { return scripted.opening; }

void close(std::string_view lastBytes) { scripted.closedWith = lastBytes; }

void write(std::string_view bytes) { scripted.written += bytes; }

std::optional<ScreenSize> windowSize() { return scripted.size; }

void read(std::vector<BackendEvent>& events, std::optional<int> timeoutMs) {
    ++scripted.readsMade;
    scripted.timeouts.push_back(timeoutMs);
    const bool waits = timeoutMs != 0;
    if (!waits && (scripted.reads.empty() || !scripted.reads.front().waiting)) return;
    if (scripted.reads.empty()) throw ScriptEnded{};
    ScriptedRead next = std::move(scripted.reads.front());
    scripted.reads.pop_front();
    events.insert(events.end(), next.events.begin(), next.events.end());
    if (next.sizeAfter) scripted.size = next.sizeAfter;
}

void endByInterrupt() { throw std::logic_error("interrupted"); }

}  // namespace backend

BackendEvent down(int vk) { return {BackendEventKind::keyDown, vk}; }
BackendEvent up(int vk) { return {BackendEventKind::keyUp, vk}; }
BackendEvent repeat(int vk) { return {BackendEventKind::keyRepeat, vk}; }
BackendEvent tap(int vk) { return {BackendEventKind::keyTap, vk}; }
BackendEvent releases(bool reported) { return {BackendEventKind::releasesReported, reported ? 1 : 0}; }
BackendEvent focusLost() { return {BackendEventKind::focusLost}; }
