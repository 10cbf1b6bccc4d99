// TBComPort: the serial port component. It keeps the line settings as properties, opens one
// serial device for overlapped input and output, configures it, writes and reads blocks of bytes
// with blocking calls, and reports line events through its event members, delivered by its event
// thread TComThread on the thread that SyncMethod selects. Every failure is an EComPort with a
// fixed Russian message. ListSerialPorts lists the machine's serial ports.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvan {

enum TBaudRate : std::uint8_t {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};

// Data bits = ordinal + 5.
enum TByteSize : std::uint8_t { bs5, bs6, bs7, bs8 };

// The ordinals are the Win32 parity and stop-bit codes.
enum TParity : std::uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopBits : std::uint8_t { sb1, sb1_5, sb2 };

// Where the line events' handlers run: on the window thread through the blocking hand-off, on
// the window thread through the port's notification window, or on the event thread itself.
enum TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone };

enum TComError : std::uint8_t {
    ceFrame,
    ceRxParity,
    ceOverrun,
    ceBreak,
    ceIO,
    ceMode,
    ceRxOver,
    ceTxFull
};

enum TComSignal : std::uint8_t { csCTS, csDSR, csRing, csRLSD };

// A set over an enumeration of at most eight members: member k is bit k of one byte.
template <class E> class TSet {
  public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> members) {
        for (E m : members)
            Include(m);
    }
    static constexpr TSet FromBits(std::uint8_t bits) {
        TSet s;
        s.bits_ = bits;
        return s;
    }
    constexpr void Include(E member) { bits_ |= static_cast<std::uint8_t>(1u << member); }
    constexpr bool Contains(E member) const { return bits_ & (1u << member); }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr std::uint8_t Bits() const { return bits_; }
    constexpr bool operator==(const TSet&) const = default;

  private:
    std::uint8_t bits_ = 0;
};

using TComErrors = TSet<TComError>;
using TComSignals = TSet<TComSignal>;

// The application's base exception is std::runtime_error; the message is UTF-8.
class EComPort : public std::runtime_error {
  public:
    explicit EComPort(const std::string& Message, std::string Detail = {})
        : std::runtime_error(Message), FDetail(std::move(Detail)) {}
    // What is known beyond the fixed message, UTF-8: the program holding the port, the lock file
    // in the way, "устройство отключено", "порт не передаёт данные"; often empty.
    const std::string& Detail() const { return FDetail; }

  private:
    std::string FDetail;
};

class TBComPort;
class TComThread;

using TNotifyEvent = std::function<void(TBComPort* Sender)>;
using TRxCharEvent = std::function<void(TBComPort* Sender, std::int32_t Count)>;
using TComSignalEvent = std::function<void(TBComPort* Sender, bool State)>;
using TComErrorEvent = std::function<void(TBComPort* Sender, TComErrors Errors)>;

// The five timeouts of the port in milliseconds, in the order of the Win32 COMMTIMEOUTS; a
// negative value reaches the device as MAXDWORD.
class TComTimeouts {
  public:
    explicit TComTimeouts(TBComPort* ComPort = nullptr) : FComPort(ComPort) {}
    TComTimeouts(const TComTimeouts&) = delete;
    TComTimeouts& operator=(const TComTimeouts&) = delete;

    std::int32_t ReadInterval() const { return FReadInterval; }
    std::int32_t ReadTotalMultiplier() const { return FReadTotalMultiplier; }
    std::int32_t ReadTotalConstant() const { return FReadTotalConstant; }
    std::int32_t WriteTotalMultiplier() const { return FWriteTotalMultiplier; }
    std::int32_t WriteTotalConstant() const { return FWriteTotalConstant; }

    // Each setter applies the port's timeouts when the value changes.
    void SetReadInterval(std::int32_t Value);
    void SetReadTotalMultiplier(std::int32_t Value);
    void SetReadTotalConstant(std::int32_t Value);
    void SetWriteTotalMultiplier(std::int32_t Value);
    void SetWriteTotalConstant(std::int32_t Value);

    // Copies the five values at once, without applying them.
    void Assign(const TComTimeouts& Source);

  private:
    void SetValue(std::int32_t& Field, std::int32_t Value);

    TBComPort* FComPort;
    std::int32_t FReadInterval = -1;
    std::int32_t FReadTotalMultiplier = 0;
    std::int32_t FReadTotalConstant = 0;
    // A write waits for its bytes and 100 ms more: 10 ms covers a character at 1200 baud, the
    // slowest line the station offers (CharacterTimeMs fits it to the line set).
    std::int32_t FWriteTotalMultiplier = 10;
    std::int32_t FWriteTotalConstant = 100;
};

class TBComPort {
  public:
    TBComPort();
    // Closes the port; a failure to close is not reported from the destructor.
    ~TBComPort();
    TBComPort(const TBComPort&) = delete;
    TBComPort& operator=(const TBComPort&) = delete;

    // Opens and configures the device, starts the event thread; returns IsOpen.
    bool Open();
    // Stops the event thread and closes the device; true when the port is closed.
    bool Close();
    // Blocking transfers; the number of bytes written or read. Buffer holds at least Count bytes.
    std::int32_t Write(const void* Buffer, std::int32_t Count);
    std::int32_t Read(void* Buffer, std::int32_t Count);
    // Bytes waiting in the driver's receive queue.
    std::int32_t InputCount();
    // The modem input lines that are on.
    TComSignals ModemSignals();
    void SetDtrLine(bool State);
    void SetRtsLine(bool State);
    // Aborts every pending read and write of the device.
    void AbortTransfers();

    bool IsOpen() const { return FIsOpen; }
    // The device handle (a Win32 HANDLE), INVALID_HANDLE_VALUE while never opened.
    void* Handle() const { return FHandle; }

    TBaudRate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudRate Value);
    TByteSize ByteSize() const { return FByteSize; }
    void SetByteSize(TByteSize Value);
    std::int32_t InBufSize() const { return FInBufSize; }
    void SetInBufSize(std::int32_t Value);
    std::int32_t OutBufSize() const { return FOutBufSize; }
    void SetOutBufSize(std::int32_t Value);
    TParity Parity() const { return FParity; }
    void SetParity(TParity Value);
    const std::string& Port() const { return FPort; }
    void SetPort(const std::string& Value);
    TSyncMethod SyncMethod() const { return FSyncMethod; }
    void SetSyncMethod(TSyncMethod Value);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits Value);
    TComTimeouts& Timeouts() { return FTimeouts; }
    const TComTimeouts& Timeouts() const { return FTimeouts; }
    // Copies the five values, then applies the timeouts.
    void SetTimeouts(const TComTimeouts& Value);
    // One character's time on the line as set (start, data, parity and stop bits), in whole
    // milliseconds rounded up: the write multiplier that bounds a write by its bytes' time.
    std::int32_t CharacterTimeMs() const;

    // Line-event handlers; assign them while the port is closed: the event thread looks at
    // which ones are assigned (to skip a hand-off that would do nothing, and in smNone to run
    // them).
    TComSignalEvent OnCTSChange;
    TComSignalEvent OnDSRChange;
    TComErrorEvent OnError;
    TNotifyEvent OnRing;
    TComSignalEvent OnRLSDChange;
    TNotifyEvent OnRx80Full;
    TRxCharEvent OnRxChar;
    TNotifyEvent OnTxEmpty;

  private:
    friend class TComThread;
    friend class TComTimeouts;
    struct PortTransfer;

    void ApplyBufferSizes();
    void ApplyLineSettings();
    void ApplyTimeouts();

    void StartWrite(const void* Buffer, std::int32_t Count, PortTransfer& Transfer);
    void StartRead(void* Buffer, std::int32_t Count, PortTransfer& Transfer);
    std::int32_t WaitTransfer(PortTransfer& Transfer);

    // Line-event handlers, called by the event dispatch.
    void DoRxChar();
    void DoTxEmpty();
    void DoRing();
    void DoCTS();
    void DoDSR();
    void DoRLSD();
    void DoError();
    void DoRx80Full();
    // Runs the handler of one Win32 event bit; other bits are ignored.
    void DoEvent(std::uint32_t EventBit);
    // The events whose handlers would do anything at all.
    std::uint32_t HandledEvents() const;

    // Window procedure of the notification window (smWindowSync).
    std::intptr_t WindowMethod(unsigned int Message, std::uintptr_t WParam, std::intptr_t LParam);

    void* FHandle;
    bool FIsOpen = false;
    std::uint32_t FEventMask;
    int FThreadPriority;
    TComThread* FThread = nullptr;
    void* FNotifyWnd = nullptr;
    // One event per direction, made at the first transfer and kept as long as the port: a reply
    // costs no event objects. A transfer that finds its direction's event in use (a handler on
    // the event thread reading beside the window thread) makes its own.
    void* FTransferEvents[2] = {nullptr, nullptr};
    std::atomic<bool> FTransferBusy[2] = {false, false};

    TBaudRate FBaudRate = br9600;
    TByteSize FByteSize = bs8;
    std::int32_t FInBufSize = 2048;
    std::int32_t FOutBufSize = 2048;
    TParity FParity = paNone;
    std::string FPort = "COM2";
    TSyncMethod FSyncMethod = smThreadSync;
    TStopBits FStopBits = sb1;
    TComTimeouts FTimeouts{this};
};

// The event thread of an open port: waits for line events on the device and passes each batch to
// the port's line-event handlers on the thread that the port's SyncMethod selects.
class TComThread {
  public:
    // Sets the device's event mask and starts the thread.
    explicit TComThread(TBComPort* ComPort);
    // Stops the thread, waits until it has ended (serving hand-offs meanwhile when called on the
    // window thread) and releases it.
    ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // Sets the stop event and yields the processor once.
    void Stop();

  private:
    struct Entry; // the thread's start routine
    void Execute();
    // Runs the handler of every occurred event, in dispatch order.
    void DoEvents();

    TBComPort* FComPort;
    void* FStopEvent = nullptr;
    void* FThreadHandle = nullptr;
    std::uint32_t FEvents = 0;
};

// Replaces List with the names of the machine's serial ports, sorted as text ignoring letter case
// (COM10 before COM2); duplicates stay. On failure List keeps its contents.
void ListSerialPorts(std::vector<std::string>& List);
// The order of that list: text ignoring letter case.
bool PortNameLess(const std::string& a, const std::string& b);

} // namespace korvan
