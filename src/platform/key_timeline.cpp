// One timeline of key changes for all keys, read one point per poll cycle; typed characters turned
// into presses and releases by their timing.
#include "platform/key_timeline.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>

namespace {
std::size_t slot(std::int32_t vk) { return static_cast<std::size_t>(vk); }

// How far from its time a repeat may come: a busy machine reads one late, the next one early.
std::int64_t tolerance(std::int64_t ms) { return std::max<std::int64_t>(25, ms / 5); }

bool near(std::int64_t gap, std::int64_t expected) { return std::abs(gap - expected) <= tolerance(expected); }
}  // namespace

void KeyTimeline::add(std::int32_t vk, bool down) {
    if (end.test(slot(vk)) == down) return;
    end.set(slot(vk), down);
    unseen.push_back({vk, down});
}

void KeyTimeline::press(std::int32_t vk) { add(vk, true); }

void KeyTimeline::release(std::int32_t vk) { add(vk, false); }

void KeyTimeline::releaseAll() {
    if (end.none()) return;
    end.reset();
    unseen.push_back({allKeys, false});
}

bool KeyTimeline::isDown(std::int32_t vk) const { return seen.test(slot(vk)); }

bool KeyTimeline::advance() {
    if (unseen.empty()) return false;
    const Change change = unseen.front();
    unseen.pop_front();
    if (change.vk == allKeys) {
        seen.reset();
    } else {
        seen.set(slot(change.vk), change.down);
    }
    return true;
}

// A key that is down (a press the protocol reported, say) goes up first: the character is a
// new press.
void TypedKeys::press(std::int64_t atMs, KeyTimeline& keys) {
    keys.release(key);
    keys.press(key);
    phase = Phase::pressed;
    pressMs = lastMs = atMs;
    undecidedCount = 0;
}

void TypedKeys::typed(std::int32_t vk, std::int64_t nowMs, KeyTimeline& keys) {
    elapse(nowMs, keys);
    if (phase != Phase::none && vk != key) letGo(keys);
    key = vk;
    take(nowMs, keys);
}

// A character of `key`, with everything due before it decided.
void TypedKeys::take(std::int64_t atMs, KeyTimeline& keys) {
    if (phase != Phase::none) {
        follow(atMs, keys);
    } else if (key == stoppedKey && atMs - stoppedMs < lateRepeatMs) {
        phase = Phase::lateSeen;
        lastMs = atMs;
    } else {
        stoppedKey = -1;
        press(atMs, keys);
    }
}

void TypedKeys::follow(std::int64_t atMs, KeyTimeline& keys) {
    switch (phase) {
    case Phase::pressed: {
        const std::int64_t gap = atMs - pressMs;
        const bool mayBeFirst = repeat ? near(gap, repeat->firstDelayMs) : gap >= shortestFirstDelayMs;
        if (mayBeFirst || gap < fastestTapMs) {
            phase = Phase::maybeRepeat;
            undecided[0] = lastMs = atMs;
            undecidedCount = 1;
            quick = !mayBeFirst;
        } else {
            press(atMs, keys);
        }
        break;
    }
    case Phase::maybeRepeat: {
        const std::int64_t gap = atMs - lastMs;
        if (quick ? gap < fastestTapMs : !repeat || gap < fastestTapMs || near(gap, repeat->intervalMs)) {
            if (quick) repeat.reset();  // a hold that what was learnt did not foresee: learnt again
            hold(atMs, !quick);
        } else if (!quick && undecidedCount < undecidedKept) {
            undecided[undecidedCount++] = lastMs = atMs;  // a repeat late, or pressed by hand
        } else {
            undecided[undecidedCount++] = atMs;
            firstWasPressed(keys);
        }
        break;
    }
    case Phase::repeating:
        keepGap(atMs - lastMs);
        lastMs = atMs;
        break;
    case Phase::lateSeen:
    case Phase::lateRepeats:
        // late repeats: the hold's pace is still looked at, the late one among them
        if (phase == Phase::lateSeen) keepGap(lastMs - stoppedMs);
        keepGap(atMs - lastMs);
        phase = Phase::lateRepeats;
        lastMs = atMs;
        break;
    case Phase::none: break;
    }
}

void TypedKeys::keepGap(std::int64_t gap) {
    if (gapCount < gapsKept) gaps[gapCount++] = gap;
}

// The undecided characters and the one at `atMs` are repeats of the press: one hold.
void TypedKeys::hold(std::int64_t atMs, bool fromPress) {
    phase = Phase::repeating;
    learnable = fromPress;
    firstRepeatMs = undecided[0];
    gapCount = 0;
    for (std::size_t i = 1; i < undecidedCount; ++i) gaps[gapCount++] = undecided[i] - undecided[i - 1];
    gaps[gapCount++] = atMs - undecided[undecidedCount - 1];
    undecidedCount = 0;
    lastMs = atMs;
}

// The first undecided character was pressed by hand; the ones after it are looked at again,
// from that press on.
void TypedKeys::firstWasPressed(KeyTimeline& keys) {
    const std::size_t restCount = undecidedCount - 1;
    std::int64_t rest[undecidedKept] = {};
    for (std::size_t i = 0; i < restCount; ++i) rest[i] = undecided[i + 1];
    press(undecided[0], keys);
    for (std::size_t i = 0; i < restCount; ++i) {
        elapse(rest[i], keys);
        take(rest[i], keys);
    }
}

// The repeats' interval: the middle of their gaps, leaving out those of repeats read together
// where there are others.
std::int64_t TypedKeys::interval() const {
    std::array<std::int64_t, gapsKept> kept{};
    std::size_t count = 0;
    for (std::size_t i = 0; i < gapCount; ++i) {
        if (gaps[i] >= fastestTapMs) kept.at(count++) = gaps[i];
    }
    if (count == 0) {
        for (std::size_t i = 0; i < gapCount; ++i) kept.at(count++) = gaps[i];
    }
    if (count == 0) return repeat ? repeat->intervalMs : 0;
    std::nth_element(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(count / 2),
                     kept.begin() + static_cast<std::ptrdiff_t>(count));
    return kept.at(count / 2);
}

// How long after a repeat the next may come before the hold counts as let go.
std::int64_t TypedKeys::longestGap() const {
    const std::int64_t gap = interval();
    return std::max(fastestTapMs, gap + tolerance(gap) + 1);
}

// Did the repeats show the player's repeat for sure? A pace quicker than a hand presses one key;
// a slower one kept to a few milliseconds, all but one from six on (a repeat late on a busy
// machine). Presses by hand never keep time that well.
bool TypedKeys::exactPace() const {
    const std::int64_t pace = interval();
    if (pace < fastestTapMs) return gapCount >= 3;
    std::size_t off = 0;
    for (std::size_t i = 0; i < gapCount; ++i) {
        if (std::abs(gaps[i] - pace) > std::max<std::int64_t>(4, pace / 50)) ++off;
    }
    return gapCount >= 4 && off <= (gapCount >= 6 ? 1U : 0U);
}

// What the hold showed is learnt, if it showed the player's repeat for sure.
void TypedKeys::learn() {
    if (learnable && exactPace()) repeat = KeyRepeat{firstRepeatMs - pressMs, interval()};
}

// The repeats stopped.
void TypedKeys::stop() {
    learn();
    stoppedKey = key;
    stoppedMs = lastMs;
    stoppedGapMs = longestGap();
    phase = Phase::none;
}

std::optional<std::int64_t> TypedKeys::deadline() const {
    switch (phase) {
    case Phase::none: return std::nullopt;
    case Phase::pressed:
        return pressMs + (repeat ? repeat->firstDelayMs + tolerance(repeat->firstDelayMs) + 1 : longestFirstDelayMs);
    case Phase::maybeRepeat:
        if (quick) return lastMs + fastestTapMs;
        // a repeat may come late by up to an interval, and the one after it on time
        if (repeat) return lastMs + std::max(fastestTapMs, 2 * repeat->intervalMs + tolerance(repeat->intervalMs) + 1);
        return lastMs + longestIntervalMs;
    case Phase::repeating: return lastMs + longestGap();
    case Phase::lateSeen:
    case Phase::lateRepeats: return lastMs + stoppedGapMs;
    }
    return std::nullopt;
}

void TypedKeys::elapse(std::int64_t nowMs, KeyTimeline& keys) {
    for (std::optional<std::int64_t> due = deadline(); due && nowMs >= *due; due = deadline()) {
        switch (phase) {
        case Phase::pressed:
            keys.release(key);
            phase = Phase::none;
            break;
        case Phase::maybeRepeat: firstWasPressed(keys); break;  // no repeat followed at its pace
        case Phase::repeating:
            keys.release(key);
            stop();
            break;
        case Phase::lateSeen: press(lastMs, keys); break;  // no more came: pressed by hand
        case Phase::lateRepeats:
            learn();
            phase = Phase::none;
            stoppedMs = lastMs;
            break;
        case Phase::none: break;
        }
    }
}

void TypedKeys::letGo(KeyTimeline& keys) {
    stoppedKey = -1;  // another key between: what follows is no repeat of this one
    if (phase == Phase::none) return;
    switch (phase) {
    case Phase::maybeRepeat: {
        const std::size_t count = undecidedCount;  // a press clears the count, not the times
        for (std::size_t i = 0; i < count; ++i) press(undecided[i], keys);
        break;
    }
    case Phase::repeating: stop(); break;
    case Phase::lateSeen: press(lastMs, keys); break;
    case Phase::lateRepeats: learn(); break;
    case Phase::none:
    case Phase::pressed: break;
    }
    keys.release(key);
    phase = Phase::none;
    stoppedKey = -1;
}
