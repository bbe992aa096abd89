#pragma once
// The simulator process: a pseudo-terminal that plays one or more modules on a
// multi-drop line, driven by a line-oriented control interface on stdin.
// Everything runs in one poll() loop over the pty master, stdin and timers.

#include "FrameReader.h"
#include "LinePacer.h"
#include "SimModule.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

inline constexpr double DefaultAutoRateHz = 10.0;
inline constexpr std::uint32_t DefaultSeed = 1;
inline constexpr int DefaultFrameGapMs = 100;
inline constexpr DeviceAddress DefaultModuleAddress = 1;

struct SimulatorOptions {
    std::vector<DeviceAddress> addresses; ///< empty: one module at DefaultModuleAddress
    std::string linkPath;                 ///< symbolic link to the slave side, if not empty
    bool exitOnEof = false;
    bool log = false;
    double autoRateHz = DefaultAutoRateHz;
    std::uint32_t seed = DefaultSeed;
    std::int32_t load = 0;
    std::int32_t noise = 0;
    int frameGapMs = DefaultFrameGapMs; ///< an incomplete frame is given up after this quiet time
    int baud = 0;                       ///< pace the replies like a line at this rate; 0: at once
    int answerDelayMs = 0;              ///< every module's answer delay at the start ("fault late")
};

class Simulator
{
public:
    explicit Simulator(SimulatorOptions options);
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    /// Creates the pseudo-terminal (and the link); on failure returns false with `error` set.
    bool openTerminal(std::string &error);
    const std::string &slavePath() const { return m_slavePath; }

    /// Runs until quit, a termination signal or (with exitOnEof) the end of stdin. Returns the exit code.
    int run();

private:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    struct Slot {
        SimModule module;
        TimePoint nextAutoSend{};
        TimePoint patternStart{};
    };
    struct PendingReply {
        std::vector<std::uint8_t> stray;
        DataFrame frame{};
        bool paced = false; ///< due: it starts on the line then (it arrives after its wire time)
    };

    // Line side.
    void readLine(TimePoint now);
    void handleItem(const FrameReader::Item &item, TimePoint now);
    void dispatch(const RequestFrame &frame, TimePoint now);
    void answer(Slot &slot, Reply reply, TimePoint ready);
    /// Sends a reply that is ready at `ready` (at once, later, or paced on the line).
    void schedule(PendingReply reply, TimePoint ready, TimePoint now);
    void sendReply(const PendingReply &reply);
    void advancePattern(Slot &slot, TimePoint now);
    void sendAutoValues(TimePoint now);
    void startAutoSend(Slot &slot, TimePoint now);
    void refillBurst();
    void queueOutput(const std::uint8_t *bytes, std::size_t count);
    void writeOutput(TimePoint now);
    void finishBurstIfWritten();
    void readClientEvents();
    bool clientAttached() const { return !m_clientsKnown || m_clients > 0; }
    std::size_t pendingOutput() const { return m_out.size() - m_outHead; }
    std::vector<std::uint8_t> strayBytes(int count);
    void appendNoise(std::vector<std::uint8_t> &bytes, DeviceAddress address, CommandCode command);
    /// The value noise frames carry (999.9 kg at one decimal).
    static constexpr std::int32_t NoiseValue = 9999;

    // Control side.
    void readControl();
    void handleControl(const std::string &line, TimePoint now);
    std::string controlFault(const std::vector<std::string> &words);
    Slot *selected();
    void print(const std::string &line);

    // Timing.
    Clock::duration autoSendPeriod() const;
    long long pollTimeoutNs(TimePoint now) const;
    void runTimers(TimePoint now);

    bool createLink(std::string &error);
    void removeLink();

    SimulatorOptions m_options;
    std::vector<Slot> m_slots;
    std::size_t m_selected = 0;
    double m_autoRateHz = DefaultAutoRateHz;
    bool m_log = false;

    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    bool m_linkCreated = false;
    TimePoint m_masterQuietUntil{}; ///< back-off after a hang-up on the master

    FrameReader m_reader;
    TimePoint m_lastReceived{};

    std::multimap<TimePoint, PendingReply> m_late;
    LinePacer m_pacer;
    /// Requests that arrived while a late reply was still owed: a master that
    /// waits for each reply before the next request never causes one.
    std::uint64_t m_overlaps = 0;

    std::vector<std::uint8_t> m_out;
    std::size_t m_outHead = 0;
    std::uint64_t m_bytesQueued = 0;
    std::uint64_t m_bytesWritten = 0;

    // Clients that have the slave side open, counted from inotify open/close
    // events on its device node. While none is attached, output is dropped like
    // on a real line whose port is closed. Unknown (no inotify): always attached.
    int m_notify = -1;
    int m_clients = 0;
    bool m_clientsKnown = false;

    // Burst of numbered value replies.
    std::uint64_t m_burstTotal = 0;
    std::uint64_t m_burstGenerated = 0;
    DeviceAddress m_burstAddress = 0;
    bool m_burstActive = false;
    std::uint64_t m_burstEndMark = 0;

    std::string m_controlBuffer;
    bool m_stdinOpen = true;
    bool m_quit = false;
    std::uint32_t m_strayState = 0;
};
