// The sample-data reader on any bytes, and writer -> reader round trips.
//
// Input: byte 0 chooses the mode (bit 0) and the locale (bits 1-3); the rest
// is, in parse mode, the file's bytes, and in build mode a list of points:
// per point one byte (bits 0-1 channel, bits 2-3 mark) then X and Y, each a
// selector byte (below SpecialCount: a special value, else 8 raw bytes of a
// double).
//
// Properties:
// - parsing never crashes; a failure comes with a reason; parsing into a
//   chart that already holds points only appends the same points a parse into
//   an empty chart gives, with the same outcome;
// - whatever was parsed, written and read back, gives the same points within
//   the writer's 15 significant digits (the very largest numbers and the
//   infinities exactly, NaN as NaN, -0 as 0, marked points as (x, 0) with
//   their mark), in the same channels;
// - after that one round, the file is a fixed point: writing what was read
//   gives the same bytes, and reading them again the same doubles, bit for bit;
// - the same holds for charts built from chosen doubles (NaN, infinities,
//   subnormals, the largest double, exact rounding ties).
#include "FuzzCheck.h"
#include "chart/ChartData.h"
#include "chart/SampleDataFile.h"

#include <QLocale>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

namespace
{

constexpr int ChannelCount = 3;
constexpr std::uint8_t BuildModeFlag = 0x01;
constexpr int LocaleShift = 1;
constexpr std::uint8_t LocaleMask = 0x07;
constexpr int MarkShift = 2;
constexpr std::uint8_t ChannelMask = 0x03;
constexpr std::uint8_t MarkMask = 0x03;

// Relative error of rounding to 15 significant digits and reading back, with
// a margin; subnormals add half of the smallest step.
constexpr double RelativeTolerance = 6e-15;
constexpr double AbsoluteTolerance = std::numeric_limits<double>::denorm_min();

using Limits = std::numeric_limits<double>;
constexpr std::array<double, 16> SpecialValues = {0.0,
                                                  -0.0,
                                                  Limits::quiet_NaN(),
                                                  -Limits::quiet_NaN(),
                                                  Limits::infinity(),
                                                  -Limits::infinity(),
                                                  Limits::max(),
                                                  -Limits::max(),
                                                  Limits::min(),
                                                  Limits::denorm_min(),
                                                  1.79769313486231e308, // largest that 15 digits keep
                                                  1.7976931348623e308,
                                                  1125899906842625.0, // exact tie at 15 digits
                                                  0.1,
                                                  1e15,
                                                  -123456789012345.6};

ChartData makeTitledChart()
{
    return ChartData({QStringLiteral("Channel 1"), QStringLiteral("Channel 2"), QStringLiteral("Channel 3")});
}

const QLocale &localeFor(std::uint8_t selector)
{
    static const std::array<QLocale, 8> locales = {
        QLocale::c(),
        QLocale(QLocale::Chinese, QLocale::China),
        QLocale(QLocale::German, QLocale::Germany),
        QLocale(QLocale::French, QLocale::France),
        QLocale(QLocale::English, QLocale::UnitedStates),
        QLocale(QLocale::Finnish, QLocale::Finland),     // minus sign U+2212
        QLocale(QLocale::Bangla, QLocale::Bangladesh),   // own digits
        QLocale(QLocale::Arabic, QLocale::SaudiArabia)}; // own digits and separators
    return locales[selector & LocaleMask];
}

// Charts are reused between runs: a channel's first point allocates a
// block of storage of about a megabyte, which would dominate every run.
enum class Slot { Parsed, Prefilled, Once, Twice, Built };

ChartData &emptyChart(Slot slot)
{
    static std::array<ChartData, 5> charts = {makeTitledChart(), makeTitledChart(), makeTitledChart(),
                                              makeTitledChart(), makeTitledChart()};
    ChartData &chart = charts[std::size_t(slot)];
    for (int c = 0; c < chart.channelCount(); ++c)
        chart.clearChannelKeepingStorage(c);
    return chart;
}

bool sameBits(double a, double b)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// What reading back a written value may give.
bool readsBackAs(double written, double read)
{
    if (std::isnan(written) || std::isnan(read))
        return std::isnan(written) && std::isnan(read);
    if (written == read) // also -0 read as 0
        return true;
    if (std::isinf(written) || std::isinf(read))
        return false;
    return std::fabs(written - read) <= RelativeTolerance * std::fabs(written) + AbsoluteTolerance;
}

void checkSamePoints(const ChartData &written, const ChartData &read, bool exact)
{
    for (int c = 0; c < ChannelCount; ++c) {
        const ChartChannel &w = written.channel(c);
        const ChartChannel &r = read.channel(c);
        FUZZ_CHECK(w.count() == r.count(), "a channel read back with another number of points");
        for (qsizetype i = 0; i < w.count(); ++i) {
            const PointMark mark = w.mark(i);
            FUZZ_CHECK(r.mark(i) == mark, "a point read back with another mark");
            if (exact) {
                FUZZ_CHECK(sameBits(w.x(i), r.x(i)), "X changed in a second round trip");
                FUZZ_CHECK(sameBits(w.y(i), r.y(i)), "Y changed in a second round trip");
                continue;
            }
            FUZZ_CHECK(readsBackAs(w.x(i), r.x(i)), "X read back as another value");
            if (mark == PointMark::None)
                FUZZ_CHECK(readsBackAs(w.y(i), r.y(i)), "Y read back as another value");
            else
                FUZZ_CHECK(r.y(i) == 0.0, "a marked point read back with a Y other than 0");
        }
    }
}

// Writes `data`, reads it back, and checks both rounds described above.
void checkRoundTrip(const ChartData &data, const QLocale &locale)
{
    const QByteArray first = FormatSampleData(data, locale);
    ChartData &once = emptyChart(Slot::Once);
    QString error;
    if (!ParseSampleData(once, first, locale, &error)) {
        std::fprintf(stderr, "file:\n%s\nreason: %s\n", first.constData(), qPrintable(error));
        FUZZ_CHECK(false, "the writer's own file does not read back");
    }
    checkSamePoints(data, once, false);

    const QByteArray second = FormatSampleData(once, locale);
    FUZZ_CHECK(second == first, "writing what was read gives another file");
    ChartData &twice = emptyChart(Slot::Twice);
    FUZZ_CHECK(ParseSampleData(twice, second, locale, &error), "the writer's own file does not read back");
    checkSamePoints(once, twice, true);
}

void parseMode(const std::uint8_t *bytes, std::size_t size, const QLocale &locale)
{
    const QByteArrayView file(bytes, qsizetype(size));
    ChartData &data = emptyChart(Slot::Parsed);
    QString error;
    const bool parsed = ParseSampleData(data, file, locale, &error);
    FUZZ_CHECK(parsed || !error.isEmpty(), "a failed parse without a reason");

    // Points already in the chart stay; the file's points follow them.
    ChartData &prefilled = emptyChart(Slot::Prefilled);
    for (int c = 0; c < ChannelCount; ++c)
        prefilled.append(c, -1.0, double(c));
    QString secondError;
    FUZZ_CHECK(ParseSampleData(prefilled, file, locale, &secondError) == parsed,
               "outcome depends on the chart");
    FUZZ_CHECK(secondError == error, "the reason depends on the chart");
    for (int c = 0; c < ChannelCount; ++c) {
        const ChartChannel &fresh = data.channel(c);
        const ChartChannel &more = prefilled.channel(c);
        FUZZ_CHECK(more.count() == fresh.count() + 1, "parsing removed or added other points");
        FUZZ_CHECK(more.x(0) == -1.0 && more.y(0) == double(c) && more.mark(0) == PointMark::None,
                   "parsing changed a point that was there before");
        for (qsizetype i = 0; i < fresh.count(); ++i) {
            FUZZ_CHECK(sameBits(more.x(i + 1), fresh.x(i)) && sameBits(more.y(i + 1), fresh.y(i)) &&
                           more.mark(i + 1) == fresh.mark(i),
                       "parsing into a filled chart gives other points");
            FUZZ_CHECK(fresh.mark(i) == PointMark::None || fresh.y(i) == 0.0, "a marked point with a Y");
        }
    }

    checkRoundTrip(data, locale);
}

class ByteReader
{
public:
    ByteReader(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}
    bool atEnd() const { return m_at >= m_size; }
    std::uint8_t byte() { return atEnd() ? 0 : m_data[m_at++]; }
    double number()
    {
        const std::uint8_t selector = byte();
        if (selector < SpecialValues.size())
            return SpecialValues[selector];
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i)
            bits = bits << 8 | byte();
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

void buildMode(const std::uint8_t *bytes, std::size_t size, const QLocale &locale)
{
    ChartData &data = emptyChart(Slot::Built);
    ByteReader in(bytes, size);
    while (!in.atEnd()) {
        const std::uint8_t kind = in.byte();
        const int channel = (kind & ChannelMask) % ChannelCount;
        const auto mark = PointMark((kind >> MarkShift & MarkMask) % 3);
        const double x = in.number();
        const double y = in.number();
        data.append(channel, x, y);
        if (mark != PointMark::None)
            data.markLast(channel, mark);
    }
    checkRoundTrip(data, locale);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QLocale &locale = localeFor(std::uint8_t(data[0] >> LocaleShift));
    if (data[0] & BuildModeFlag)
        buildMode(data + 1, size - 1, locale);
    else
        parseMode(data + 1, size - 1, locale);
    return 0;
}
