// The keyboard as the polls see it: one timeline of key changes for all keys, in the order they
// happened, and the point of it that the current poll cycle reads; and the characters of a
// terminal that reports no key releases, turned into keys going down and coming up.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

class KeyTimeline {
public:
    // Changes at the end of the timeline. One that changes nothing (a press of a key already
    // down, a release of a key already up) is not kept: it could never be seen.
    void press(std::int32_t vk);
    void release(std::int32_t vk);
    // Every key up at once: the focus left, or the keyboard's state is unknown again.
    void releaseAll();

    // Is the key down at the point the polls read now?
    [[nodiscard]] bool isDown(std::int32_t vk) const;

    // Moves the point on past the next change. False when the polls have seen every change.
    bool advance();

private:
    static constexpr std::size_t keyCount = 256;
    struct Change {
        std::int32_t vk;  // the key, or allKeys
        bool down;
    };
    static constexpr std::int32_t allKeys = -1;

    std::bitset<keyCount> seen;  // the keyboard at the point read now
    std::bitset<keyCount> end;   // the keyboard once every change is seen
    std::deque<Change> unseen;   // changes after the point, oldest first

    void add(std::int32_t vk, bool down);
};

// What a hold of one key showed of the player's key repeat: the first delay, then the interval.
struct KeyRepeat {
    std::int64_t firstDelayMs;
    std::int64_t intervalMs;
    bool operator==(const KeyRepeat&) const = default;
};

// A terminal without key releases sends a held key's character once, then, after the first delay
// the player set, again and again at the interval the player set: a steady pace, the same each
// time. Presses by hand are irregular. So characters of one key, with no other key between them,
// are told apart by their timing:
// - A character sooner after a press than any first delay (a double tap) is a press at once;
//   closer than a hand can let go and press again, once no other follows as soon (two such are
//   the key held, with a repeat set since it was learnt: it is learnt again from the next hold).
// - One that may be the press's first repeat waits for what follows: more at the pace of repeats
//   make it and them one hold, the key down until they stop; else it was pressed by hand, and
//   counts then, late but never lost. Another key, or the focus gone, ends the wait the same way.
// - Once a hold has been seen, its first delay and interval decide: a character that is not where
//   the next repeat would come is a press at once. A hold teaches that only when its repeats
//   showed the player's repeat for sure: quicker than a hand can press, or kept to a few
//   milliseconds (presses by hand never keep time that well).
// - Before that, a character 200 ms to 2.5 s after a press is its first repeat if another follows
//   within 650 ms (systems let the delay be set up to 2 s and the interval up to 500 ms, and a
//   repeat may come late). Presses by hand at that pace cannot be told from such a first hold: a
//   press, one some 200 ms to 2.5 s later, then more, each within 650 ms. There the reading that
//   invents no press is taken, so that ENTER held on the last outcome never restarts the game:
//   they are one hold. Presses by hand further apart, or quicker, still count. A hold let go
//   before its second repeat looks just like two presses and counts as two: a second press by
//   hand is never lost.
// - A character of the key soon after its repeats stopped is a late repeat (a slow link, a busy
//   machine) if more follow at their pace: the hold goes on, the key up; else a press.
class TypedKeys {
public:
    // A character sooner than this after a press is no first repeat (the shortest first delay a
    // system offers is 250 ms).
    static constexpr std::int64_t shortestFirstDelayMs = 200;
    // Until a hold has been seen: the longest first delay and interval looked for.
    static constexpr std::int64_t longestFirstDelayMs = 2500;
    static constexpr std::int64_t longestIntervalMs = 650;
    // Two characters of one key this close were not both pressed by hand.
    static constexpr std::int64_t fastestTapMs = 80;
    // How long after a hold's last repeat a character may still be a late one.
    static constexpr std::int64_t lateRepeatMs = 750;

    // A character of the key `vk` read at `nowMs`.
    void typed(std::int32_t vk, std::int64_t nowMs, KeyTimeline& keys);

    // The time is `nowMs`: what was waiting for it is decided.
    void elapse(std::int64_t nowMs, KeyTimeline& keys);

    // When elapse next has something to decide, if ever.
    [[nodiscard]] std::optional<std::int64_t> deadline() const;

    // The keyboard is known otherwise from now on (a key event with its release, the focus
    // gone): characters still undecided count as presses, and the typed key is let go.
    void letGo(KeyTimeline& keys);

    // The player's key repeat as learnt from the last hold that showed it, if any.
    [[nodiscard]] std::optional<KeyRepeat> learnt() const { return repeat; }

private:
    enum class Phase {
        none,         // no typed key is down
        pressed,      // a press: the key is down while its first repeat may still come
        maybeRepeat,  // characters after the press that may be its first repeats, not known yet
        repeating,    // repeats: down while they keep coming
        lateSeen,     // a character soon after the repeats stopped: a press, or late repeats
        lateRepeats,  // late repeats: the hold goes on, the key up
    };
    static constexpr std::size_t gapsKept = 8;
    static constexpr std::size_t undecidedKept = 3;

    Phase phase = Phase::none;
    std::int32_t key = 0;
    std::int64_t pressMs = 0;  // when the key's last press came
    std::int64_t lastMs = 0;   // when its last character came
    // maybeRepeat: the undecided characters, oldest first (more than one only where a repeat has
    // been learnt and one came late), and one more while it is looked at; whether the first came
    // too soon after the press for a first repeat
    std::int64_t undecided[undecidedKept + 1] = {};
    std::size_t undecidedCount = 0;
    bool quick = false;
    // repeating: the first repeat, the gaps between the repeats (the first few), whether the
    // hold may be learnt from
    std::int64_t firstRepeatMs = 0;
    std::int64_t gaps[gapsKept] = {};
    std::size_t gapCount = 0;
    bool learnable = false;
    std::optional<KeyRepeat> repeat;
    // The key whose repeats stopped last, when its last character came, and how long a gap its
    // repeats could have.
    std::int32_t stoppedKey = -1;
    std::int64_t stoppedMs = 0;
    std::int64_t stoppedGapMs = 0;

    void take(std::int64_t atMs, KeyTimeline& keys);
    void follow(std::int64_t atMs, KeyTimeline& keys);
    void press(std::int64_t atMs, KeyTimeline& keys);
    void hold(std::int64_t atMs, bool fromPress);
    void firstWasPressed(KeyTimeline& keys);
    void keepGap(std::int64_t gap);
    void learn();
    [[nodiscard]] bool exactPace() const;
    void stop();
    [[nodiscard]] std::int64_t interval() const;
    [[nodiscard]] std::int64_t longestGap() const;
};
