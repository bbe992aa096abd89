#include "Simulator.h"

#include "ControlText.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace
{

volatile std::sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int)
{
    g_stopSignal = 1;
}

using namespace std::chrono_literals;

constexpr std::size_t ReadChunk = 65536;
constexpr int MaxReadsPerWake = 16;
constexpr auto MasterHangupBackoff = 100ms;
constexpr std::size_t NotifyBufferSize = 4096;
constexpr std::size_t BurstLowWater = 64 * 1024;
constexpr std::uint64_t BurstChunkFrames = 8192;
constexpr std::size_t MaxPendingOutput = 4 * 1024 * 1024; ///< automatic sending pauses above this
constexpr std::size_t CompactThreshold = 1024 * 1024;
constexpr int MaxAutoSendCatchUp = 1000; ///< values per module per wake-up before the schedule is reset
constexpr std::uint8_t BadCheckMask = 0xFF;
constexpr std::size_t CheckOffset = DataFrameSize - 2;
constexpr std::size_t CommandOffset = 2;
constexpr double MaxAutoRateHz = 1e6;
constexpr long long MaxLateMs = 600000;
constexpr long long MaxStrayBytes = 4096;
constexpr long long MaxBurst = 1000000000LL;
constexpr long long MaxAddress = 255;
constexpr std::size_t MaxLateReplies = 100000; ///< automatic sending pauses while this many wait for the line
constexpr std::uint32_t StrayMultiplier = 1103515245u;
constexpr std::uint32_t StrayIncrement = 12345u;
constexpr int StrayShift = 16;
constexpr std::uint8_t StrayAvoidMask = 0x80;

long long ToNs(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
}

} // namespace

Simulator::Simulator(SimulatorOptions options)
    : m_options(std::move(options)), m_autoRateHz(m_options.autoRateHz), m_log(m_options.log),
      m_pacer(m_options.baud), m_strayState(m_options.seed)
{
    if (m_options.addresses.empty())
        m_options.addresses.push_back(DefaultModuleAddress);
    std::uint32_t seed = m_options.seed;
    for (const DeviceAddress address : m_options.addresses) {
        Slot slot{SimModule(address, seed++), {}};
        slot.module.setLoad(m_options.load);
        slot.module.setNoise(m_options.noise);
        slot.module.faults().lateMs = m_options.answerDelayMs;
        m_slots.push_back(std::move(slot));
    }
}

Simulator::~Simulator()
{
    removeLink();
    if (m_notify >= 0)
        ::close(m_notify);
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

bool Simulator::openTerminal(std::string &error)
{
    const auto fail = [&](const char *what) {
        error = std::string(what) + ": " + std::strerror(errno);
        return false;
    };
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail("posix_openpt");
    if (::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK) < 0 ||
        ::fcntl(m_master, F_SETFD, FD_CLOEXEC) < 0)
        return fail("fcntl");
    if (::grantpt(m_master) < 0)
        return fail("grantpt");
    if (::unlockpt(m_master) < 0)
        return fail("unlockpt");
    char name[128] = {};
    if (::ptsname_r(m_master, name, sizeof name) != 0)
        return fail("ptsname");
    m_slavePath = name;

    // Holding a slave descriptor keeps the master free of hang-ups while no client
    // is attached; it also keeps the line settings between clients.
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0)
        return fail("open slave");
    // Opens and closes of the device node by others tell whether a client is attached.
    m_notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    m_clientsKnown = m_notify >= 0 && ::inotify_add_watch(m_notify, name, IN_OPEN | IN_CLOSE) >= 0;
    termios settings{};
    if (::tcgetattr(m_slave, &settings) < 0)
        return fail("tcgetattr");
    ::cfmakeraw(&settings);
    if (::tcsetattr(m_slave, TCSANOW, &settings) < 0)
        return fail("tcsetattr");
    return m_options.linkPath.empty() || createLink(error);
}

bool Simulator::createLink(std::string &error)
{
    const std::string &path = m_options.linkPath;
    struct stat info {
    };
    if (::lstat(path.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            error = "link path exists and is not a symbolic link: " + path;
            return false;
        }
        ::unlink(path.c_str()); // a link left by an earlier run
    }
    if (::symlink(m_slavePath.c_str(), path.c_str()) < 0) {
        error = "symlink " + path + ": " + std::strerror(errno);
        return false;
    }
    m_linkCreated = true;
    return true;
}

void Simulator::removeLink()
{
    if (!m_linkCreated)
        return;
    m_linkCreated = false;
    // Only remove the link if it still is ours.
    char target[256] = {};
    const ssize_t length = ::readlink(m_options.linkPath.c_str(), target, sizeof target - 1);
    if (length > 0 && std::string(target, static_cast<std::size_t>(length)) == m_slavePath)
        ::unlink(m_options.linkPath.c_str());
}

// ---------------------------------------------------------------------------
// Main loop

int Simulator::run()
{
    // Replies due at a set time (an answer delay, a paced line) go out then:
    // without the default 50 us of slack the kernel may add to every wake-up.
    if (m_pacer.active() || m_options.answerDelayMs > 0)
        ::prctl(PR_SET_TIMERSLACK, 1UL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigset_t waitMask;
    // Stop signals are only delivered while waiting in ppoll(), so none is missed.
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    struct sigaction action {
    };
    action.sa_handler = OnStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    print("PTY " + m_slavePath);

    while (!m_quit && !g_stopSignal) {
        TimePoint now = Clock::now();
        runTimers(now);
        writeOutput(now);
        if (m_quit)
            break;

        pollfd fds[3] = {};
        const bool masterQuiet = now < m_masterQuietUntil;
        fds[0].fd = masterQuiet ? -1 : m_master;
        fds[0].events = POLLIN | (pendingOutput() > 0 ? POLLOUT : 0);
        fds[1].fd = m_stdinOpen ? STDIN_FILENO : -1;
        fds[1].events = POLLIN;
        fds[2].fd = m_notify;
        fds[2].events = POLLIN;

        const long long timeoutNs = pollTimeoutNs(now);
        timespec timeout{};
        timeout.tv_sec = static_cast<time_t>(timeoutNs / 1000000000LL);
        timeout.tv_nsec = static_cast<long>(timeoutNs % 1000000000LL);
        const int ready = ::ppoll(fds, 3, timeoutNs < 0 ? nullptr : &timeout, &waitMask);
        if (ready < 0)
            continue; // EINTR: a stop signal, checked above
        now = Clock::now();
        if (fds[2].revents & POLLIN)
            readClientEvents(); // before the line: a new client's first request follows its open
        if (fds[0].revents & POLLIN)
            readLine(now);
        else if (fds[0].revents & (POLLHUP | POLLERR))
            m_masterQuietUntil = now + MasterHangupBackoff;
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))
            readControl();
    }
    writeOutput(Clock::now()); // what can still go out without waiting
    return 0;
}

Simulator::Clock::duration Simulator::autoSendPeriod() const
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / m_autoRateHz));
}

long long Simulator::pollTimeoutNs(TimePoint now) const
{
    bool any = false;
    TimePoint due{};
    const auto consider = [&](TimePoint t) {
        if (!any || t < due)
            due = t;
        any = true;
    };
    if (!m_late.empty())
        consider(m_late.begin()->first);
    if (m_autoRateHz > 0) {
        for (const Slot &slot : m_slots)
            if (slot.module.autoSending())
                consider(slot.nextAutoSend);
    }
    if (m_reader.hasPartialFrame())
        consider(m_lastReceived + std::chrono::milliseconds(m_options.frameGapMs));
    if (now < m_masterQuietUntil)
        consider(m_masterQuietUntil);
    if (!any)
        return -1;
    return std::max<long long>(0, ToNs(due - now));
}

void Simulator::runTimers(TimePoint now)
{
    while (!m_late.empty() && m_late.begin()->first <= now) {
        auto due = m_late.extract(m_late.begin());
        PendingReply &reply = due.mapped();
        if (reply.paced) {
            // Its turn on the line: it has arrived once its bytes have gone over it.
            reply.paced = false;
            due.key() = m_pacer.send(due.key(), reply.stray.size() + reply.frame.size());
            m_late.insert(std::move(due));
        } else {
            sendReply(reply);
        }
    }
    sendAutoValues(now);
    const auto gap = std::chrono::milliseconds(m_options.frameGapMs);
    while (m_reader.hasPartialFrame() && now - m_lastReceived >= gap) {
        const std::vector<std::uint8_t> bytes = m_reader.abandonPartialFrame();
        if (m_log)
            print("RXBAD " + HexText(bytes.data(), bytes.size()));
        while (const auto item = m_reader.next())
            handleItem(*item, now);
    }
}

// ---------------------------------------------------------------------------
// Line side

void Simulator::readLine(TimePoint now)
{
    std::uint8_t buffer[ReadChunk];
    for (int i = 0; i < MaxReadsPerWake; ++i) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            m_reader.append(buffer, static_cast<std::size_t>(n));
            m_lastReceived = now;
            while (const auto item = m_reader.next())
                handleItem(*item, now);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
            m_masterQuietUntil = now + MasterHangupBackoff; // EIO: no slave open
        break;
    }
}

void Simulator::handleItem(const FrameReader::Item &item, TimePoint now)
{
    if (m_log)
        print((item.valid ? "RX " : "RXBAD ") + HexText(item.bytes.data(), item.bytes.size()));
    if (item.valid)
        dispatch(item.frame, now);
}

void Simulator::dispatch(const RequestFrame &frame, TimePoint now)
{
    if (!m_late.empty())
        ++m_overlaps;
    // Every module the frame reaches answers, lowest address first.
    std::vector<Slot *> reached;
    for (Slot &slot : m_slots)
        if (slot.module.isAddressedBy(frame.address))
            reached.push_back(&slot);
    std::stable_sort(reached.begin(), reached.end(),
                     [](const Slot *a, const Slot *b) { return a->module.address() < b->module.address(); });

    // On a paced line the module hears the request once its last byte has come.
    const TimePoint heard =
        now + m_pacer.wireTime(frame.kind == FrameKind::Query ? QueryFrameSize : DataFrameSize);
    for (Slot *slot : reached) {
        advancePattern(*slot, now);
        const RequestOutcome outcome = slot->module.handle(frame);
        if (outcome.autoSendStarted)
            startAutoSend(*slot, now);
        if (outcome.stored)
            print("STORED " + std::to_string(slot->module.address()));
        if (outcome.reply && !slot->module.faults().silent && !slot->module.isMuted(frame))
            answer(*slot, *outcome.reply, heard);
    }
}

void Simulator::advancePattern(Slot &slot, TimePoint now)
{
    slot.module.setPatternTime(
        std::chrono::duration_cast<std::chrono::microseconds>(now - slot.patternStart).count());
}

void Simulator::answer(Slot &slot, Reply reply, TimePoint ready)
{
    const ModuleFaults &faults = slot.module.faults();
    if (faults.replaceCommand)
        reply.command = *faults.replaceCommand;
    PendingReply pending;
    pending.frame = BuildDataFrame(reply.address, reply.command, reply.value);
    if (faults.badCheck)
        pending.frame[CheckOffset] ^= BadCheckMask;
    pending.stray = strayBytes(faults.strayBytes);
    if (faults.noise)
        appendNoise(pending.stray, reply.address, reply.command);
    schedule(std::move(pending), ready + std::chrono::milliseconds(faults.lateMs), Clock::now());
}

void Simulator::schedule(PendingReply reply, TimePoint ready, TimePoint now)
{
    reply.paced = m_pacer.active();
    if (reply.paced || ready > now)
        m_late.emplace(ready, std::move(reply));
    else
        sendReply(reply);
}

void Simulator::sendReply(const PendingReply &reply)
{
    if (!reply.stray.empty()) {
        if (m_log)
            print("TXSTRAY " + HexText(reply.stray.data(), reply.stray.size()));
        queueOutput(reply.stray.data(), reply.stray.size());
    }
    if (m_log)
        print("TX " + HexText(reply.frame.data(), reply.frame.size()));
    queueOutput(reply.frame.data(), reply.frame.size());
}

void Simulator::appendNoise(std::vector<std::uint8_t> &bytes, DeviceAddress address, CommandCode command)
{
    // Looks like the reply that follows, with a value of its own and a wrong check byte.
    DataFrame noise = BuildDataFrame(address, command, NoiseValue);
    noise[CheckOffset] ^= BadCheckMask;
    bytes.insert(bytes.end(), noise.begin(), noise.end());
}

std::vector<std::uint8_t> Simulator::strayBytes(int count)
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max(count, 0)));
    for (std::uint8_t &byte : bytes) {
        m_strayState = m_strayState * StrayMultiplier + StrayIncrement;
        byte = static_cast<std::uint8_t>(m_strayState >> StrayShift);
        if (byte == DataStart)
            byte ^= StrayAvoidMask;
    }
    return bytes;
}

void Simulator::startAutoSend(Slot &slot, TimePoint now)
{
    if (m_autoRateHz > 0)
        slot.nextAutoSend = now + autoSendPeriod();
}

void Simulator::sendAutoValues(TimePoint now)
{
    if (m_autoRateHz <= 0)
        return;
    const Clock::duration period = autoSendPeriod();
    for (Slot &slot : m_slots) {
        if (!slot.module.autoSending())
            continue;
        int sent = 0;
        while (slot.nextAutoSend <= now) {
            SimModule &module = slot.module;
            // A module that is silenced, or a line nobody drains, loses these values.
            if (!module.faults().silent && pendingOutput() < MaxPendingOutput &&
                m_late.size() < MaxLateReplies) {
                advancePattern(slot, now);
                const std::int32_t value = module.measuredValue(module.sampleAdCode());
                PendingReply pending;
                pending.frame = BuildDataFrame(module.address(), CmdReadValue, value);
                if (module.faults().badCheck)
                    pending.frame[CheckOffset] ^= BadCheckMask;
                pending.stray = strayBytes(module.faults().strayBytes);
                if (module.faults().noise)
                    appendNoise(pending.stray, module.address(), CmdReadValue);
                schedule(std::move(pending), now, now);
            }
            slot.nextAutoSend += period;
            if (++sent >= MaxAutoSendCatchUp) {
                slot.nextAutoSend = now + period;
                break;
            }
        }
    }
}

void Simulator::refillBurst()
{
    if (!m_burstActive || m_burstGenerated >= m_burstTotal || pendingOutput() >= BurstLowWater)
        return;
    const std::uint64_t count = std::min(BurstChunkFrames, m_burstTotal - m_burstGenerated);
    m_out.reserve(m_out.size() + count * DataFrameSize);
    for (std::uint64_t i = 0; i < count; ++i) {
        const auto sequence = static_cast<std::int32_t>(++m_burstGenerated);
        const DataFrame frame = BuildDataFrame(m_burstAddress, CmdReadValue, sequence);
        if (m_log)
            print("TX " + HexText(frame.data(), frame.size()));
        queueOutput(frame.data(), frame.size());
    }
    if (m_burstGenerated == m_burstTotal)
        m_burstEndMark = m_bytesQueued;
}

void Simulator::queueOutput(const std::uint8_t *bytes, std::size_t count)
{
    if (m_outHead >= CompactThreshold && m_outHead * 2 >= m_out.size()) {
        m_out.erase(m_out.begin(), m_out.begin() + static_cast<std::ptrdiff_t>(m_outHead));
        m_outHead = 0;
    }
    m_out.insert(m_out.end(), bytes, bytes + count);
    m_bytesQueued += count;
}

void Simulator::writeOutput(TimePoint now)
{
    for (;;) {
        refillBurst();
        const std::size_t pending = pendingOutput();
        if (pending == 0)
            break;
        if (!clientAttached()) {
            // Nobody has the port open: the bytes go nowhere, as on a real line,
            // instead of waiting in the terminal for the next client.
            m_bytesWritten += pending;
            m_out.clear();
            m_outHead = 0;
            if (m_burstActive && m_burstGenerated < m_burstTotal) {
                m_burstGenerated = m_burstTotal;
                m_burstEndMark = m_bytesQueued;
            }
            break;
        }
        if (now < m_masterQuietUntil)
            break;
        const ssize_t n = ::write(m_master, m_out.data() + m_outHead, pending);
        if (n > 0) {
            m_outHead += static_cast<std::size_t>(n);
            m_bytesWritten += static_cast<std::uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // EAGAIN: the other side's queue is full; POLLOUT tells when to go on
    }
    if (m_outHead == m_out.size()) {
        m_out.clear();
        m_outHead = 0;
    }
    finishBurstIfWritten();
}

void Simulator::finishBurstIfWritten()
{
    if (m_burstActive && m_burstGenerated == m_burstTotal && m_bytesWritten >= m_burstEndMark) {
        m_burstActive = false;
        print("BURST DONE " + std::to_string(m_burstTotal));
    }
}

void Simulator::readClientEvents()
{
    alignas(inotify_event) char buffer[NotifyBufferSize];
    const int before = m_clients;
    for (;;) {
        const ssize_t n = ::read(m_notify, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (std::size_t offset = 0; offset + sizeof(inotify_event) <= static_cast<std::size_t>(n);) {
            inotify_event event{};
            std::memcpy(&event, buffer + offset, sizeof event);
            offset += sizeof event + event.len;
            if (event.mask & IN_Q_OVERFLOW)
                m_clientsKnown = false; // count lost: take the port as open from now on
            if (event.mask & IN_OPEN)
                ++m_clients;
            // What the last client left unread is gone with its port, so the
            // next client starts with an empty line.
            if ((event.mask & IN_CLOSE) && m_clients > 0 && --m_clients == 0)
                ::tcflush(m_slave, TCIFLUSH);
        }
    }
    if (m_log && m_clients != before)
        print("CLIENTS " + std::to_string(m_clients));
}

// ---------------------------------------------------------------------------
// Control side

void Simulator::print(const std::string &line)
{
    const std::string text = line + '\n';
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        m_quit = true; // the controlling side is gone
}

Simulator::Slot *Simulator::selected()
{
    return m_selected < m_slots.size() ? &m_slots[m_selected] : nullptr;
}

void Simulator::readControl()
{
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
        return;
    if (n <= 0) {
        m_stdinOpen = false;
        if (!m_controlBuffer.empty()) {
            handleControl(m_controlBuffer, Clock::now());
            m_controlBuffer.clear();
        }
        if (m_options.exitOnEof)
            m_quit = true;
        return;
    }
    m_controlBuffer.append(buffer, static_cast<std::size_t>(n));
    std::size_t end;
    while ((end = m_controlBuffer.find('\n')) != std::string::npos) {
        const std::string line = m_controlBuffer.substr(0, end);
        m_controlBuffer.erase(0, end + 1);
        handleControl(line, Clock::now());
        if (m_quit)
            return;
    }
}

void Simulator::handleControl(const std::string &line, TimePoint now)
{
    const std::vector<std::string> words = SplitWords(line);
    if (words.empty()) {
        print("ERR empty line");
        return;
    }
    const std::string &command = words[0];
    const auto argument = [&](std::size_t i) -> const std::string & {
        static const std::string none;
        return i < words.size() ? words[i] : none;
    };
    long long number = 0;
    Slot *slot = selected();

    if (command == "module" && words.size() == 2) {
        if (!ParseInteger(words[1], 0, MaxAddress, number))
            return print("ERR address must be 0..255");
        for (std::size_t i = 0; i < m_slots.size(); ++i) {
            if (m_slots[i].module.address() == number) {
                m_selected = i;
                return print("OK");
            }
        }
        return print("ERR no module at address " + words[1]);
    }
    if (command == "modules" && words.size() == 1) {
        std::string text = "OK";
        for (const Slot &s : m_slots) {
            text += ' ';
            text += std::to_string(s.module.address());
        }
        return print(text);
    }
    if (command == "load" && words.size() == 2) {
        if (!ParseInt32(words[1], number))
            return print("ERR load must be a 32-bit integer");
        slot->module.setLoad(static_cast<std::int32_t>(number));
        return print("OK");
    }
    if (command == "noise" && words.size() == 2) {
        if (!ParseInteger(words[1], 0, std::numeric_limits<std::int32_t>::max(), number))
            return print("ERR noise must be 0 or more");
        slot->module.setNoise(static_cast<std::int32_t>(number));
        return print("OK");
    }
    if (command == "param" && words.size() == 3) {
        long long value = 0;
        if (!ParseInteger(words[1], 0, MaxCommandCode, number) || !IsParameterCode(static_cast<int>(number)))
            return print("ERR parameter code must be 2..22 or 25..45");
        if (!ParseInt32(words[2], value))
            return print("ERR value must be a 32-bit integer");
        if (number == CmdDN && (value < 0 || value > MaxAddress))
            return print("ERR address must be 0..255");
        slot->module.setParameter(static_cast<CommandCode>(number), static_cast<std::int32_t>(value));
        return print("OK");
    }
    if (command == "get" && words.size() == 2) {
        if (!ParseInteger(words[1], 0, MaxCommandCode, number))
            return print("ERR code must be 0, 1, 2..22 or 25..45");
        advancePattern(*slot, now);
        const SimModule &module = slot->module;
        if (number == CmdReadAdCode)
            return print("OK " + std::to_string(module.currentLoad()));
        if (number == CmdReadValue)
            return print("OK " + std::to_string(module.measuredValue(module.currentLoad())));
        if (!IsParameterCode(static_cast<int>(number)))
            return print("ERR code must be 0, 1, 2..22 or 25..45");
        return print("OK " + std::to_string(module.parameter(static_cast<CommandCode>(number))));
    }
    if (command == "pattern" && words.size() >= 2) {
        ValuePattern pattern;
        std::string error;
        if (!ValuePattern::Parse({words.begin() + 1, words.end()}, pattern, error))
            return print("ERR " + error);
        slot->module.setPattern(pattern);
        slot->patternStart = now;
        return print("OK");
    }
    if (command == "autorate" && words.size() == 2) {
        double rate = 0;
        if (!ParseDouble(words[1], 0, MaxAutoRateHz, rate))
            return print("ERR rate must be 0..1000000 Hz");
        m_autoRateHz = rate;
        for (Slot &s : m_slots)
            if (s.module.autoSending())
                startAutoSend(s, now);
        return print("OK");
    }
    if (command == "autosend" && words.size() == 2 && ParseSwitch(words[1], number)) {
        if (number && !slot->module.autoSending())
            startAutoSend(*slot, now);
        slot->module.setAutoSending(number != 0);
        return print("OK");
    }
    if (command == "burst" && words.size() == 2) {
        if (!ParseInteger(words[1], 1, MaxBurst, number))
            return print("ERR count must be 1..1000000000");
        if (m_burstActive)
            return print("ERR burst in progress");
        m_burstActive = true;
        m_burstTotal = static_cast<std::uint64_t>(number);
        m_burstGenerated = 0;
        m_burstAddress = slot->module.address();
        return print("OK");
    }
    if (command == "powercycle" && words.size() == 1) {
        // Power-up: automatic sending ends and replies still being prepared are lost.
        for (Slot &s : m_slots)
            s.module.setAutoSending(false);
        m_late.clear();
        return print("OK");
    }
    if (command == "log" && words.size() == 2 && ParseSwitch(words[1], number)) {
        m_log = number != 0;
        return print("OK");
    }
    if (command == "fault" && words.size() >= 2)
        return print(controlFault(words));
    if (command == "raw" && words.size() >= 2) {
        std::vector<std::uint8_t> bytes;
        if (!ParseHexBytes(words, 1, bytes))
            return print("ERR raw takes hexadecimal bytes");
        if (m_log)
            print("TXRAW " + HexText(bytes.data(), bytes.size()));
        queueOutput(bytes.data(), bytes.size());
        return print("OK");
    }
    if (command == "overlaps" && words.size() == 1)
        return print("OK " + std::to_string(m_overlaps));
    if (command == "quit" && words.size() == 1) {
        print("OK");
        m_quit = true;
        return;
    }
    if (command == "help" && words.size() == 1)
        return print(std::string("OK ") + ControlHelpText);
    print("ERR unknown command: " + argument(0));
}

std::string Simulator::controlFault(const std::vector<std::string> &words)
{
    ModuleFaults &faults = selected()->module.faults();
    const std::string &kind = words[1];
    long long number = 0;
    if (kind == "clear" && words.size() == 2) {
        faults = ModuleFaults{};
        return "OK";
    }
    if (words.size() == 3) {
        const std::string &value = words[2];
        if (kind == "silent" && ParseSwitch(value, number)) {
            faults.silent = number != 0;
            return "OK";
        }
        if (kind == "badcheck" && ParseSwitch(value, number)) {
            faults.badCheck = number != 0;
            return "OK";
        }
        if (kind == "noise" && ParseSwitch(value, number)) {
            faults.noise = number != 0;
            return "OK";
        }
        if (kind == "late" && ParseInteger(value, 0, MaxLateMs, number)) {
            faults.lateMs = static_cast<int>(number);
            return "OK";
        }
        if (kind == "stray" && ParseInteger(value, 0, MaxStrayBytes, number)) {
            faults.strayBytes = static_cast<int>(number);
            return "OK";
        }
        if (kind == "cmd") {
            if (value == "off") {
                faults.replaceCommand.reset();
                return "OK";
            }
            if (ParseInteger(value, 0, 0xFF, number)) {
                faults.replaceCommand = static_cast<CommandCode>(number);
                return "OK";
            }
        }
    }
    if (kind == "mute" && words.size() == 4 && ParseInteger(words[2], 0, 0xFF, number)) {
        const auto code = static_cast<std::size_t>(number);
        const std::string &frames = words[3];
        if (frames == "query" || frames == "both")
            faults.mutedQueries.set(code);
        if (frames == "data" || frames == "both")
            faults.mutedData.set(code);
        if (frames == "off") {
            faults.mutedQueries.reset(code);
            faults.mutedData.reset(code);
        }
        if (frames == "query" || frames == "data" || frames == "both" || frames == "off")
            return "OK";
    }
    return "ERR fault silent on|off, late MS, cmd N|off, stray N, badcheck on|off, noise on|off, "
           "mute CODE query|data|both|off, clear";
}
