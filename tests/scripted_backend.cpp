// The scripted backend linked into the platform core's tests.
#include "scripted_backend.h"

#include <cstdio>
#include <stdexcept>

#include "capture_output.h"

ScriptedBackend scripted;

void ScriptedBackend::reset() {
    opening = {"", true, true};
    size = ScreenSize{140, 40};
    reads.clear();
    nowMs = 0;
    readsMade = 0;
    timeouts.clear();
    outputAtRead.clear();
    outputAtClose = -1;
    cutShort.clear();
}

namespace backend {

BackendOpening open(const ScreenLayout&, std::string_view cutShort) {
    scripted.cutShort = cutShort;
    return scripted.opening;
}

void setCutShort(std::string_view bytes) { scripted.cutShort = bytes; }

void close() { scripted.outputAtClose = outputSoFar(); }

void closeCutShort() { close(); }

std::optional<ScreenSize> windowSize() { return scripted.size; }

void read(std::vector<BackendEvent>& events, std::optional<int> timeoutMs) {
    ++scripted.readsMade;
    scripted.timeouts.push_back(timeoutMs);
    scripted.outputAtRead.push_back(outputSoFar());
    const bool waits = timeoutMs != 0;
    if (!waits && (scripted.reads.empty() || !scripted.reads.front().waiting)) return;
    if (scripted.reads.empty()) throw ScriptEnded{};
    ScriptedRead& next = scripted.reads.front();
    if (timeoutMs && next.atMs && *next.atMs > scripted.nowMs + *timeoutMs) {
        scripted.nowMs += *timeoutMs;
        return;
    }
    if (next.atMs && *next.atMs > scripted.nowMs) scripted.nowMs = *next.atMs;
    events.insert(events.end(), next.events.begin(), next.events.end());
    if (next.sizeAfter) scripted.size = next.sizeAfter;
    scripted.reads.pop_front();
}

std::int64_t clockMs() { return scripted.nowMs; }

void endByInterrupt() { throw std::logic_error("interrupted"); }

}  // namespace backend

BackendEvent down(int vk) { return {BackendEventKind::keyDown, vk}; }
BackendEvent up(int vk) { return {BackendEventKind::keyUp, vk}; }
BackendEvent repeat(int vk) { return {BackendEventKind::keyRepeat, vk}; }
BackendEvent tap(int vk) { return {BackendEventKind::keyTap, vk}; }
BackendEvent releases(bool reported) { return {BackendEventKind::releasesReported, reported ? 1 : 0}; }
BackendEvent focusLost() { return {BackendEventKind::focusLost}; }
