#include "cli/zone_rule.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <limits>

namespace fennick::cli {

namespace {

using namespace std::chrono;

constexpr long long kHour = 3600;
constexpr long long kEarliest = std::numeric_limits<long long>::min();
constexpr long long kLatest = std::numeric_limits<long long>::max();

// Reads the rule's text from the front.
class Reader {
  public:
    explicit Reader(std::string_view text) : rest_(text) {}

    bool done() const { return rest_.empty(); }

    bool take(char c) {
        if (rest_.empty() || rest_.front() != c)
            return false;
        rest_.remove_prefix(1);
        return true;
    }

    // A zone's abbreviation: three letters or more, or three or more
    // letters, digits and signs inside <...>. Only checked: offsets count.
    bool name() {
        const bool quoted = take('<');
        std::size_t size = 0;
        const auto fits = [quoted](char c) {
            const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
            return letter || (quoted && ((c >= '0' && c <= '9') || c == '+' || c == '-'));
        };
        while (size < rest_.size() && fits(rest_[size]))
            ++size;
        rest_.remove_prefix(size);
        return size >= 3 && (!quoted || take('>'));
    }

    // fewest to most decimal digits, at most `largest`.
    std::optional<int> number(std::size_t fewest, std::size_t most, int largest) {
        int value = 0;
        std::size_t size = 0;
        while (size < most && size < rest_.size() && rest_[size] >= '0' && rest_[size] <= '9')
            value = value * 10 + (rest_[size++] - '0');
        rest_.remove_prefix(size);
        if (size < fewest || value > largest)
            return std::nullopt;
        return value;
    }

    // [+-]h[:mm[:ss]] in seconds, the hours of `hourDigits` digits at most,
    // the whole at most `mostHours` hours either way.
    std::optional<long long> duration(std::size_t hourDigits, int mostHours) {
        const bool negative = take('-');
        if (!negative)
            take('+');
        const auto hours = number(1, hourDigits, mostHours);
        if (!hours)
            return std::nullopt;
        long long seconds = *hours * kHour;
        for (long long unit : {60LL, 1LL}) {
            if (!take(':'))
                break;
            const auto part = number(2, 2, 59);
            if (!part)
                return std::nullopt;
            seconds += *part * unit;
        }
        if (seconds > mostHours * kHour)
            return std::nullopt;
        return negative ? -seconds : seconds;
    }

    // Mm.w.d, Jn or n, then /time if given.
    std::optional<ZoneRule::Change> change() {
        ZoneRule::Change change;
        if (take('M')) {
            const auto month = number(1, 2, 12);
            if (!month || *month == 0 || !take('.'))
                return std::nullopt;
            const auto week = number(1, 1, 5);
            if (!week || *week == 0 || !take('.'))
                return std::nullopt;
            const auto weekday = number(1, 1, 6);
            if (!weekday)
                return std::nullopt;
            change.month = *month;
            change.week = *week;
            change.weekday = *weekday;
        } else {
            const bool julian = take('J');
            const auto day = number(1, 3, 365);
            if (!day || (julian && *day == 0))
                return std::nullopt;
            change.kind = julian ? ZoneRule::Change::Day::Julian : ZoneRule::Change::Day::FromZero;
            change.day = *day;
        }
        if (take('/')) {
            const auto time = duration(3, 167);
            if (!time)
                return std::nullopt;
            change.time = *time;
        }
        return change;
    }

  private:
    std::string_view rest_;
};

// The first day of the change in year y.
sys_days dayOf(const ZoneRule::Change& change, year y) {
    switch (change.kind) {
        case ZoneRule::Change::Day::Julian:
            // J60 is 1 March in every year.
            return sys_days{y / 1 / 1} + days{change.day - 1 + (y.is_leap() && change.day >= 60)};
        case ZoneRule::Change::Day::FromZero:
            return sys_days{y / 1 / 1} + days{change.day};
        case ZoneRule::Change::Day::MonthWeek:
            break;
    }
    const auto m = month{static_cast<unsigned>(change.month)};
    const weekday d{static_cast<unsigned>(change.weekday)};
    if (change.week == 5)
        return sys_days{y / m / d[last]};
    return sys_days{y / m / d[static_cast<unsigned>(change.week)]};
}

long long atOf(const ZoneRule::Change& change, year y, long long offsetBefore) {
    return sys_seconds{dayOf(change, y)}.time_since_epoch().count() + change.time - offsetBefore;
}

// The years whose changes the rule is followed over, well inside what the
// calendar types hold; beyond them the offset stays as it is there.
const long long kFirstSecond =
    sys_seconds{sys_days{year{-30000} / 1 / 1}}.time_since_epoch().count();
const long long kLastSecond = sys_seconds{sys_days{year{30000} / 1 / 1}}.time_since_epoch().count();

std::uint64_t bigEndian(std::string_view bytes, std::size_t at, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// A TZif header's counts, in the file's order: isutcnt, isstdcnt, leapcnt,
// timecnt, typecnt, charcnt.
constexpr std::size_t kHeaderSize = 44;
using Counts = std::array<std::uint64_t, 6>;

std::optional<Counts> countsAt(std::string_view bytes, std::size_t at) {
    if (bytes.size() < kHeaderSize || at > bytes.size() - kHeaderSize ||
        bytes.substr(at, 4) != "TZif")
        return std::nullopt;
    Counts counts;
    for (std::size_t i = 0; i < counts.size(); ++i)
        counts[i] = bigEndian(bytes, at + 20 + 4 * i, 4);
    return counts;
}

// The data block after a header, whose times take `timeSize` bytes each.
std::uint64_t blockSize(const Counts& c, std::uint64_t timeSize) {
    return c[3] * timeSize + c[3] + c[4] * 6 + c[5] + c[2] * (timeSize + 4) + c[1] + c[0];
}

}  // namespace

std::optional<ZoneRule> ZoneRule::parse(std::string_view text) {
    Reader reader(text);
    ZoneRule rule;
    const auto standard = reader.name() ? reader.duration(2, 24) : std::nullopt;
    if (!standard)
        return std::nullopt;
    rule.standard_ = -*standard;
    if (reader.done())
        return rule;
    if (!reader.name())
        return std::nullopt;
    Daylight daylight{rule.standard_ + kHour, {}, {}};
    if (!reader.done() && !reader.take(',')) {
        const auto offset = reader.duration(2, 24);
        if (!offset || !reader.take(','))
            return std::nullopt;
        daylight.offset = -*offset;
    } else if (reader.done()) {
        return std::nullopt;
    }
    const auto start = reader.change();
    const auto end = start && reader.take(',') ? reader.change() : std::nullopt;
    if (!end || !reader.done())
        return std::nullopt;
    daylight.start = *start;
    daylight.end = *end;
    rule.daylight_ = daylight;
    return rule;
}

TimeZone::Span ZoneRule::spanAt(long long epochSeconds) const {
    if (!daylight_)
        return {kEarliest, kLatest, standard_};
    if (epochSeconds < kFirstSecond)
        return {kEarliest, kFirstSecond, spanInYears(kFirstSecond).offset};
    if (epochSeconds >= kLastSecond)
        return {kLastSecond, kLatest, spanInYears(kLastSecond).offset};
    return spanInYears(epochSeconds);
}

TimeZone::Span ZoneRule::spanInYears(long long epochSeconds) const {
    // A change may fall up to a week into the next or the last year (167
    // hours after or before its day), so the changes of two years on either
    // side hold the one before the instant and the one after it.
    struct Event {
        long long at;
        bool toDaylight;
    };
    std::array<Event, 10> events{};
    const year y = year_month_day{floor<days>(sys_seconds{seconds{epochSeconds}})}.year();
    std::size_t count = 0;
    for (year around = y - years{2}; around <= y + years{2}; ++around) {
        events[count++] = {atOf(daylight_->start, around, standard_), true};
        events[count++] = {atOf(daylight_->end, around, daylight_->offset), false};
    }
    // Daylight saving time all year ends one year as it starts the next:
    // at the same instant, the start comes last and holds.
    std::sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        return a.at != b.at ? a.at < b.at : a.toDaylight < b.toDaylight;
    });
    const auto after =
        std::upper_bound(events.begin(), events.end(), epochSeconds,
                         [](long long at, const Event& event) { return at < event.at; });
    const Event& before = *(after - 1);
    return {before.at, after->at, before.toDaylight ? daylight_->offset : standard_};
}

std::optional<ZoneFileTail> readZoneFileTail(std::string_view bytes) {
    const auto first = countsAt(bytes, 0);
    if (!first)
        return std::nullopt;
    const bool versionOne = bytes[4] == '\0';
    const std::uint64_t firstEnd = kHeaderSize + blockSize(*first, 4);
    const auto second = versionOne ? first : countsAt(bytes, firstEnd);
    if (!second)
        return std::nullopt;
    const std::uint64_t timeSize = versionOne ? 4 : 8;
    const std::uint64_t data = versionOne ? kHeaderSize : firstEnd + kHeaderSize;
    const std::uint64_t end = data + blockSize(*second, timeSize);
    if (end > bytes.size())
        return std::nullopt;
    ZoneFileTail tail;
    if (const std::uint64_t changes = (*second)[3]; changes > 0) {
        const std::uint64_t last = bigEndian(bytes, data + (changes - 1) * timeSize, timeSize);
        tail.lastChange = versionOne ? static_cast<std::int32_t>(last)
                                     : static_cast<long long>(static_cast<std::int64_t>(last));
    }
    if (!versionOne && end < bytes.size() && bytes[end] == '\n') {
        if (const auto close = bytes.find('\n', end + 1); close != std::string_view::npos)
            tail.footer = std::string(bytes.substr(end + 1, close - end - 1));
    }
    return tail;
}

}  // namespace fennick::cli
