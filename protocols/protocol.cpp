#include "protocols/protocol.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include "platform/clock.h"
#include "protocols/ascii_receiver.h"
#include "protocols/ascii_sender.h"
#include "protocols/kermit_defs.h"
#include "protocols/kermit_receiver.h"
#include "protocols/kermit_sender.h"
#include "protocols/received_name.h"
#include "protocols/xmodem_receiver.h"
#include "protocols/xmodem_sender.h"
#include "protocols/zmodem_receiver.h"
#include "protocols/zmodem_sender.h"

namespace zelvo::protocols {

using platform::kTickMs;
using platform::monotonicMs;

namespace {

using EngineFactory = std::unique_ptr<ProtocolEngine> (*)(EngineHost&, const EngineSettings&);

template <class Engine>
std::unique_ptr<ProtocolEngine> make(EngineHost& host, const EngineSettings& settings)
{
    return std::make_unique<Engine>(host, settings);
}

constexpr int kKeep = -1;

// The engines, one entry per protocol type: what choosing the type sets (a field of
// kKeep leaves the property as it is) and the factories of its two directions. A type
// without an entry ends its transfers with -6015.
struct EngineKind {
    TProtocolType type;
    TBlockCheckMethod blockCheck;
    uint32_t blockLength;
    int handshakeWait; // ticks
    int finishWait;    // ticks
    int overhead;      // bytes per block, for the time estimate
    int turnDelay;     // ms, for the time estimate
    bool batch;        // the sender names the files; the receiver needs a directory only
    EngineFactory transmit;
    EngineFactory receive;
};

const EngineKind kEngines[] = {
    {ptXmodem, bcmChecksum, 128, kKeep, 0, 5, 1000, false, make<XmodemSender>, make<XmodemReceiver>},
    {ptXmodemCRC, bcmCrc16, 128, kKeep, 0, 5, 1000, false, make<XmodemSender>, make<XmodemReceiver>},
    {ptXmodem1K, bcmCrc16, 1024, kKeep, 0, 5, 1000, false, make<XmodemSender>, make<XmodemReceiver>},
    {ptXmodem1KG, bcmCrc16, 1024, kKeep, 0, 5, 0, false, make<XmodemSender>, make<XmodemReceiver>},
    {ptYmodem, bcmCrc16, 1024, kKeep, 0, 5, 1000, true, make<XmodemSender>, make<XmodemReceiver>},
    {ptYmodemG, bcmCrc16, 1024, kKeep, 0, 5, 0, true, make<XmodemSender>, make<XmodemReceiver>},
    {ptZmodem, bcmCrc32, ZmodemEngine::kBlockLength, 1092, 364, 20, 0, true, make<ZmodemSender>,
     make<ZmodemReceiver>},
    {ptKermit, bcmChecksum, kermit::kDefaultMaxl, kKeep, kKeep, kKeep, kKeep, true, make<KermitSender>,
     make<KermitReceiver>},
    {ptAscii, bcmNone, 60, kKeep, kKeep, kKeep, kKeep, false, make<AsciiSender>, make<AsciiReceiver>},
};

const EngineKind* findEngine(TProtocolType type)
{
    for (const EngineKind& k : kEngines)
        if (k.type == type)
            return &k;
    return nullptr;
}

} // namespace

bool Protocol::EngineAvailable(TProtocolType type)
{
    return findEngine(type) != nullptr;
}

bool Protocol::BatchProtocol(TProtocolType type)
{
    const EngineKind* k = findEngine(type);
    return k && k->batch;
}

Protocol::Protocol()
{
    file_.onDiskWrite = [this](bool writing) {
        if (RTSLowForWrite_ && line_)
            line_->setRTS(!writing);
    };
}

Protocol::~Protocol()
{
    file_.abandon();
}

void Protocol::setEventDelivery(EventDelivery* delivery)
{
    delivery_ = delivery ? delivery : &directDelivery_;
}

void Protocol::setProtocolType(TProtocolType type)
{
    if (running_)
        return;
    ProtocolType_ = type;
    engine_.reset();
    const EngineKind* k = findEngine(type);
    if (!k)
        return;
    BlockCheckMethod_ = k->blockCheck;
    blockLength_ = k->blockLength;
    if (type == ptZmodem && Zmodem8K_)
        blockLength_ = ZmodemEngine::kBlockLength8K;
    if (type == ptKermit)
        applyKermitLength();
    if (k->handshakeWait != kKeep)
        HandshakeWait_ = static_cast<uint32_t>(k->handshakeWait);
    if (k->finishWait != kKeep)
        FinishWait_ = static_cast<uint32_t>(k->finishWait);
    if (k->overhead != kKeep)
        Overhead_ = static_cast<uint32_t>(k->overhead);
    if (k->turnDelay != kKeep)
        TurnDelay_ = static_cast<uint32_t>(k->turnDelay);
}

void Protocol::AssignSettings(const Protocol& o)
{
    ProtocolType_ = o.ProtocolType_;
    ZmodemFileOption_ = o.ZmodemFileOption_;
    Zmodem8K_ = o.Zmodem8K_;
    blockLength_ = o.blockLength_;
    DestinationDirectory_ = o.DestinationDirectory_;
    FileMask_ = o.FileMask_;
    BlockCheckMethod_ = o.BlockCheckMethod_;
    HandshakeRetry_ = o.HandshakeRetry_;
    HandshakeWait_ = o.HandshakeWait_;
    TransmitTimeout_ = o.TransmitTimeout_;
    FinishWait_ = o.FinishWait_;
    TurnDelay_ = o.TurnDelay_;
    Overhead_ = o.Overhead_;
    WriteFailAction_ = o.WriteFailAction_;
    HonorDirectory_ = o.HonorDirectory_;
    IncludeDirectory_ = o.IncludeDirectory_;
    RTSLowForWrite_ = o.RTSLowForWrite_;
    AbortNoCarrier_ = o.AbortNoCarrier_;
    BP2KTransmit_ = o.BP2KTransmit_;
    AsciiSuppressCtrlZ_ = o.AsciiSuppressCtrlZ_;
    StatusInterval_ = o.StatusInterval_;
    FileName_ = o.FileName_;
    XYmodemBlockWait_ = o.XYmodemBlockWait_;
    ZmodemOptionOverride_ = o.ZmodemOptionOverride_;
    ZmodemSkipNoFile_ = o.ZmodemSkipNoFile_;
    ZmodemRecover_ = o.ZmodemRecover_;
    ZmodemFinishRetry_ = o.ZmodemFinishRetry_;
    KermitMaxLen_ = o.KermitMaxLen_;
    KermitMaxWindows_ = o.KermitMaxWindows_;
    KermitSWCTurnDelay_ = o.KermitSWCTurnDelay_;
    KermitTimeoutSecs_ = o.KermitTimeoutSecs_;
    KermitPadCharacter_ = o.KermitPadCharacter_;
    KermitPadCount_ = o.KermitPadCount_;
    KermitTerminator_ = o.KermitTerminator_;
    KermitCtlPrefix_ = o.KermitCtlPrefix_;
    KermitHighbitPrefix_ = o.KermitHighbitPrefix_;
    KermitRepeatPrefix_ = o.KermitRepeatPrefix_;
    AsciiCharDelay_ = o.AsciiCharDelay_;
    AsciiLineDelay_ = o.AsciiLineDelay_;
    AsciiEOLChar_ = o.AsciiEOLChar_;
    AsciiCRTranslation_ = o.AsciiCRTranslation_;
    AsciiLFTranslation_ = o.AsciiLFTranslation_;
    AsciiEOFTimeout_ = o.AsciiEOFTimeout_;
    UpcaseFileNames_ = o.UpcaseFileNames_;
}

void Protocol::setZmodemFileOption(TZmodemFileOptions option)
{
    if (option == zfoWriteCrc || option < zfoNoOption || option > zfoWriteProtect)
        return;
    ZmodemFileOption_ = option;
}

void Protocol::setZmodem8K(bool on)
{
    Zmodem8K_ = on;
    if (ProtocolType_ == ptZmodem)
        blockLength_ = on ? ZmodemEngine::kBlockLength8K : ZmodemEngine::kBlockLength;
}

void Protocol::setKermitMaxLen(uint32_t length)
{
    KermitMaxLen_ = std::min(length, KermitEngine::kMaxLen);
    if (ProtocolType_ == ptKermit)
        applyKermitLength();
}

void Protocol::applyKermitLength()
{
    // Long packets take their length as the block length and at least the two-character
    // check; normal ones start at the standard 80 until the other side has spoken.
    if (KermitMaxLen_ > kermit::kMaxNormalLength) {
        blockLength_ = KermitMaxLen_;
        if (BlockCheckMethod_ == bcmChecksum)
            BlockCheckMethod_ = bcmChecksum2;
    } else {
        blockLength_ = kermit::kDefaultMaxl;
        if (BlockCheckMethod_ == bcmChecksum2)
            BlockCheckMethod_ = bcmChecksum;
    }
}

void Protocol::setKermitMaxWindows(uint32_t slots)
{
    KermitMaxWindows_ = std::min(slots, KermitEngine::kMaxWindowSlots);
}

EngineSettings Protocol::engineSettings() const
{
    auto ms = [](uint32_t ticks) { return static_cast<int64_t>(ticks) * kTickMs; };
    EngineSettings s;
    s.Type = ProtocolType_;
    s.BlockCheck = BlockCheckMethod_;
    s.BlockLength = blockLength_;
    s.HandshakeRetry = HandshakeRetry_;
    s.HandshakeWaitMs = ms(HandshakeWait_);
    s.TransmitTimeoutMs = ms(TransmitTimeout_);
    s.FinishWaitMs = ms(FinishWait_);
    s.Overhead = Overhead_;
    s.TurnDelayMs = TurnDelay_;
    s.IncludeDirectory = IncludeDirectory_;
    s.FileName = FileName_;
    s.XYmodemBlockWaitMs = ms(XYmodemBlockWait_);
    s.ZmodemOptionOverride = ZmodemOptionOverride_;
    s.ZmodemSkipNoFile = ZmodemSkipNoFile_;
    s.ZmodemFileOption = ZmodemFileOption_;
    s.ZmodemRecover = ZmodemRecover_;
    s.Zmodem8K = Zmodem8K_;
    s.ZmodemFinishRetry = ZmodemFinishRetry_;
    s.KermitMaxLen = KermitMaxLen_;
    s.KermitMaxWindows = KermitMaxWindows_;
    s.KermitSWCTurnDelay = KermitSWCTurnDelay_;
    s.KermitTimeoutSecs = KermitTimeoutSecs_;
    s.KermitPadCharacter = KermitPadCharacter_;
    s.KermitPadCount = KermitPadCount_;
    s.KermitTerminator = KermitTerminator_;
    s.KermitCtlPrefix = KermitCtlPrefix_;
    s.KermitHighbitPrefix = KermitHighbitPrefix_;
    s.KermitRepeatPrefix = KermitRepeatPrefix_;
    s.AsciiCharDelayMs = AsciiCharDelay_;
    s.AsciiLineDelayMs = AsciiLineDelay_;
    s.AsciiEOLChar = AsciiEOLChar_;
    s.AsciiCRTranslation = AsciiCRTranslation_;
    s.AsciiLFTranslation = AsciiLFTranslation_;
    s.AsciiEOFTimeoutMs = ms(AsciiEOFTimeout_);
    s.AsciiSuppressCtrlZ = AsciiSuppressCtrlZ_;
    return s;
}

std::string Protocol::receivePath() const
{
    if (!FileName_.empty() && FileName_[0] == '/')
        return FileName_;
    std::string dir = DestinationDirectory_.empty() ? std::string(".") : DestinationDirectory_;
    if (dir.back() != '/')
        dir.push_back('/');
    return dir + FileName_;
}

int Protocol::BeginTransmit()
{
    return begin(true);
}

int Protocol::BeginReceive()
{
    return begin(false);
}

int Protocol::begin(bool transmit)
{
    if (running_)
        return -ecProtocolError;
    transmitting_ = transmit;
    cancelRequested_ = false;
    maskStarted_ = false;
    maskMatches_.clear();
    maskIndex_ = 0;
    lastResult_ = 0;
    const int64_t now = monotonicMs();
    transferStartMs_ = now;
    {
        std::lock_guard<std::mutex> lock(snapshotMutex_);
        record_ = TransferRecord{};
        record_.type = ProtocolType_;
        record_.transmit = transmit;
        snapshot_ = TransferState{};
        snapshot_.fileStartMs = now;
        snapshot_.BlockCheck = BlockCheckMethod_;
        snapshot_.BlockLength = blockLength_;
    }
    running_ = true;
    if (!line_) {
        endTransfer(-2007);
        return -2007;
    }
    nominalRate_ = line_->nominalRate();
    lineIn_ = lineOut_ = 0;
    fileLineIn_ = fileLineOut_ = 0;
    const EngineKind* kind = findEngine(ProtocolType_);
    const EngineFactory factory = kind ? (transmit ? kind->transmit : kind->receive) : nullptr;
    if (!factory) {
        endTransfer(-ecBadProtocolFunction);
        return -ecBadProtocolFunction;
    }
    EngineSettings settings = engineSettings();
    if (!transmit && !kind->batch) {
        // No name travels on the line: the file is the one FileName names.
        if (FileName_.empty()) {
            endTransfer(-ecNoFilename);
            return -ecNoFilename;
        }
        settings.FileName = receivePath();
    }
    if (AbortNoCarrier_ && !line_->carrier()) {
        TransferState st = Snapshot();
        st.ProtocolStatus = psAbortNoCarrier;
        publish(st);
        endTransfer(-ecAbortNoCarrier);
        return -ecAbortNoCarrier;
    }
    engine_ = factory(*this, settings);
    engine_->start(now);
    nextStatusMs_ = now + static_cast<int64_t>(std::max<uint32_t>(StatusInterval_, 1)) * kTickMs;
    publish(engine_->state());
    // The status window, with its Cancel button, is there from the handshake on.
    if (!engine_->done())
        showDisplay(true);
    afterStep();
    return running_ ? 0 : lastResult_;
}

void Protocol::FailStart(int code)
{
    if (running_)
        return;
    running_ = true;
    endTransfer(code);
}

void Protocol::CancelTransfer()
{
    if (!running_)
        return;
    cancelRequested_ = true;
    if (line_)
        line_->wake();
}

void Protocol::afterStep()
{
    if (running_ && engine_ && engine_->done())
        endTransfer(engine_->result());
}

void Protocol::endTransfer(int code)
{
    if (engine_)
        publish(engine_->state());
    file_.abandon();
    lastResult_ = code;
    {
        std::lock_guard<std::mutex> lock(snapshotMutex_);
        record_.result = code;
        record_.elapsedMs = monotonicMs() - transferStartMs_;
    }
    running_ = false;
    showDisplay(false);
    auto finished = [this, code] {
        if (OnProtocolFinish)
            delivery_->post([this, code] {
                if (OnProtocolFinish)
                    OnProtocolFinish(*this, code);
            });
    };
    if (line_)
        line_->transferEnded(std::move(finished));
    else
        finished();
}

size_t Protocol::lineData(const uint8_t* data, size_t n)
{
    if (!running_ || !engine_)
        return 0;
    const int64_t now = monotonicMs();
    lineIn_ += n;
    size_t taken = n;
    if (cancelRequested_.exchange(false)) {
        engine_->cancel(now);
    } else {
        engine_->receive(data, n, now);
        if (engine_->done())
            taken = n - std::min(n, engine_->unusedInput());
    }
    afterStep();
    return taken;
}

void Protocol::service()
{
    if (!running_ || !engine_)
        return;
    const int64_t now = monotonicMs();
    if (cancelRequested_.exchange(false))
        engine_->cancel(now);
    else
        engine_->poll(now);
    if (running_ && !engine_->done() && now >= nextStatusMs_) {
        const int64_t interval = static_cast<int64_t>(std::max<uint32_t>(StatusInterval_, 1)) * kTickMs;
        nextStatusMs_ = now + interval;
        publish(engine_->state());
        deliverStatus(0);
        if (AbortNoCarrier_ && line_ && !line_->carrier()) {
            engine_->lineLost(now);
        }
    }
    afterStep();
}

void Protocol::lineLost()
{
    if (!running_ || !engine_)
        return;
    engine_->lineLost(monotonicMs());
    afterStep();
}

int64_t Protocol::nextServiceMs() const
{
    if (!running_ || !engine_)
        return ProtocolEngine::kNoDeadline;
    return std::min(engine_->deadline(), nextStatusMs_);
}

TransferRecord Protocol::LastTransfer() const
{
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    return record_;
}

TransferState Protocol::Snapshot() const
{
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    return snapshot_;
}

void Protocol::publish(const TransferState& state)
{
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    snapshot_ = state;
    snapshot_.LineBytesIn = lineIn_ - fileLineIn_;
    snapshot_.LineBytesOut = lineOut_ - fileLineOut_;
}

int64_t Protocol::ElapsedTicks() const
{
    const TransferState st = Snapshot();
    const int64_t start = st.fileStartMs ? st.fileStartMs : transferStartMs_;
    return (monotonicMs() - start) / kTickMs;
}

uint32_t Protocol::baudRate() const
{
    return line_ ? line_->baudRate() : 0;
}

uint32_t Protocol::EstimateTransferSecs(uint64_t n) const
{
    uint32_t l = Snapshot().BlockLength;
    if (l == 0)
        l = blockLength_;
    return EstimateSecs(n, baudRate(), l, Overhead_, TurnDelay_);
}

uint32_t EstimateSecs(uint64_t n, uint32_t baud, uint32_t blockLength, uint32_t overhead, uint32_t turnDelayMs)
{
    const uint64_t s = baud / 10;
    const uint64_t l = blockLength;
    const uint64_t turn = static_cast<uint64_t>(turnDelayMs) * s / 1000;
    const uint64_t denom = l + overhead + turn;
    const uint64_t efficiency = denom ? l * 100 / denom : 0;
    const uint64_t e = s * efficiency / 100;
    if (n == 0 || e < 1)
        return 0;
    return static_cast<uint32_t>(std::min<uint64_t>(n / e, UINT32_MAX));
}

void Protocol::deliverStatus(unsigned flags)
{
    if (!OnProtocolStatus && !statusDisplay_)
        return;
    // The window stays up from the start of the transfer to its end (showDisplay); the
    // first and last calls of each file only refresh it.
    delivery_->post([this, flags] {
        if (statusDisplay_ && displayShown_)
            statusDisplay_->UpdateDisplay(false, false);
        if (OnProtocolStatus)
            OnProtocolStatus(*this, static_cast<uint16_t>(flags));
    });
}

void Protocol::showDisplay(bool show)
{
    if (!statusDisplay_ || displayRequested_ == show)
        return;
    displayRequested_ = show;
    delivery_->post([this, show] {
        displayShown_ = show;
        if (statusDisplay_)
            statusDisplay_->UpdateDisplay(show, !show);
    });
}

void Protocol::deliverLog(uint16_t code)
{
    if (!OnProtocolLog)
        return;
    delivery_->post([this, code] {
        if (OnProtocolLog)
            OnProtocolLog(*this, code);
    });
}

// ---- EngineHost: the line ----

size_t Protocol::outputFree()
{
    return line_ ? line_->outputFree() : 0;
}

size_t Protocol::outputUsed()
{
    return line_ ? line_->outputUsed() : 0;
}

int Protocol::putBlock(const uint8_t* data, size_t n)
{
    if (!line_)
        return -2007;
    const int rc = line_->putBlock(data, n);
    if (rc >= 0)
        lineOut_ += n;
    return rc;
}

void Protocol::flushOutput()
{
    if (line_)
        line_->flushOutput();
}

void Protocol::flushInput()
{
    if (line_)
        line_->flushInput();
}

uint32_t Protocol::lineSpeed()
{
    return line_ ? line_->baudRate() : 0;
}

void Protocol::askResume(const std::string& path, TWriteFailAction& action)
{
    if (!OnProtocolResume)
        return;
    (void)path;
    delivery_->send([this, &action] { OnProtocolResume(*this, action); }, 3000);
}

// ---- EngineHost: sending ----

namespace {

int statFile(const std::string& path, SendFile& file)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return -errno;
    if (!S_ISREG(st.st_mode))
        return -EISDIR;
    file.path = path;
    file.length = static_cast<uint64_t>(st.st_size);
    file.mtime = st.st_mtime;
    file.mode = static_cast<uint32_t>(st.st_mode & 0777);
    return 0;
}

} // namespace

int Protocol::findFirstFile(SendFile& file)
{
    maskStarted_ = true;
    maskMatches_.clear();
    maskIndex_ = 0;
    if (FileMask_.empty()) {
        if (FileName_.empty())
            return -ecNoSearchMask;
        maskDir_.clear();
        maskMatches_.push_back(FileName_);
        return nextMaskFile(file);
    }
    const size_t slash = FileMask_.rfind('/');
    std::string pattern = slash == std::string::npos ? FileMask_ : FileMask_.substr(slash + 1);
    maskDir_ = slash == std::string::npos ? std::string() : FileMask_.substr(0, slash + 1);
    // "*.*" is the habit of systems whose names always have an extension.
    if (pattern.empty() || pattern == "*.*")
        pattern.assign(1, '*');
    DIR* dir = ::opendir(maskDir_.empty() ? "." : maskDir_.c_str());
    if (!dir)
        return errno == ENOENT || errno == ENOTDIR ? -ecDirNotFound : -errno;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == ".." || ::fnmatch(pattern.c_str(), name.c_str(), FNM_PERIOD) != 0)
            continue;
        struct stat st {};
        if (::stat((maskDir_ + name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
            maskMatches_.push_back(maskDir_ + name);
    }
    ::closedir(dir);
    if (maskMatches_.empty())
        return -ecNoMatchingFiles;
    std::sort(maskMatches_.begin(), maskMatches_.end());
    return nextMaskFile(file);
}

int Protocol::nextMaskFile(SendFile& file)
{
    while (maskIndex_ < maskMatches_.size()) {
        const std::string path = maskMatches_[maskIndex_++];
        const int rc = statFile(path, file);
        if (rc == 0)
            return 1;
        reportError(rc);
    }
    return 0;
}

int Protocol::nextFile(SendFile& file)
{
    for (;;) {
        int rc;
        if (OnProtocolNextFile) {
            std::string name;
            delivery_->send([this, &name] { OnProtocolNextFile(*this, name); }, 3000);
            if (name.empty())
                return 0;
            rc = statFile(name, file);
            if (rc < 0) {
                reportError(rc);
                continue;
            }
            rc = 1;
        } else {
            rc = maskStarted_ ? nextMaskFile(file) : findFirstFile(file);
            if (rc <= 0)
                return rc;
        }
        file.wireName = IncludeDirectory_ ? file.path : std::string();
        const int orc = file_.openRead(file.path);
        if (orc < 0) {
            reportError(orc);
            continue;
        }
        currentPath_ = file.path;
        deliverLog(lfTransmitStart);
        return 1;
    }
}

int Protocol::readFile(uint64_t offset, uint8_t* buf, size_t n)
{
    return file_.read(offset, buf, n);
}

void Protocol::closeSendFile(bool completed)
{
    file_.close();
    deliverLog(completed ? lfTransmitOk : lfTransmitFail);
}

// ---- EngineHost: receiving ----

int Protocol::resolveReceivedName(const std::string& wireName, std::string& path)
{
    const std::string dest = DestinationDirectory_.empty() ? std::string(".") : DestinationDirectory_;
    ReceivedName r = ReduceReceivedName(wireName, dest, HonorDirectory_, UpcaseFileNames_);
    if (!r.ok) {
        TransferState st = engine_ ? engine_->state() : Snapshot();
        st.Detail = "refused file name \"" + wireName + "\": " + r.reason;
        publish(st);
        rejectDetail_ = st.Detail;
        return psSkipFile;
    }
    // Directories are made only below the destination and never through a link, and
    // a link already standing at the name is not written through.
    std::string why;
    if (!PrepareReceivedPath(dest, r.relative, why)) {
        TransferState st = engine_ ? engine_->state() : Snapshot();
        st.Detail = "refused file name \"" + wireName + "\": " + why;
        publish(st);
        rejectDetail_ = st.Detail;
        return psSkipFile;
    }
    path = r.path;
    if (OnProtocolAccept) {
        bool accept = true;
        std::string name = path;
        delivery_->send([this, &accept, &name] { OnProtocolAccept(*this, accept, name); }, 3000);
        if (!accept) {
            rejectDetail_ = "file \"" + wireName + "\" rejected";
            return psFileRejected;
        }
        if (!name.empty())
            path = name;
    }
    rejectDetail_.clear();
    return 0;
}

int Protocol::statLocal(const std::string& path, LocalFile& local)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            local = LocalFile{};
            return 0;
        }
        return -errno;
    }
    if (!S_ISREG(st.st_mode))
        return -EISDIR;
    local.exists = true;
    local.length = static_cast<uint64_t>(st.st_size);
    local.mtime = st.st_mtime;
    return 0;
}

int Protocol::openReceiveFile(const std::string& path, OpenMode mode, uint64_t offset)
{
    const int rc = file_.openWrite(path, mode, offset);
    if (rc == 0) {
        currentPath_ = path;
        deliverLog(lfReceiveStart);
    }
    return rc;
}

int Protocol::prepareReceiveFile(std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return -errno;
    } else if (WriteFailAction_ == wfWriteFail) {
        TransferState s = Snapshot();
        s.ProtocolStatus = psCantWriteFile;
        publish(s);
        return psCantWriteFile;
    } else if (WriteFailAction_ == wfWriteRename) {
        // An existing file of the '$' name is overwritten.
        path = RenamedPath(path);
    }
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // Writing would go wherever the link points.
        TransferState s = Snapshot();
        s.ProtocolStatus = psCantWriteFile;
        s.Detail = "\"" + path + "\" is a symbolic link";
        rejectDetail_ = s.Detail;
        publish(s);
        return psCantWriteFile;
    }
    const int rc = file_.openWrite(path, OpenMode::Create, 0);
    if (rc == 0) {
        currentPath_ = path;
        deliverLog(lfReceiveStart);
    }
    return rc;
}

int Protocol::writeFile(uint64_t offset, const uint8_t* data, size_t n)
{
    return file_.write(offset, data, n);
}

int Protocol::closeReceiveFile(bool completed, int64_t mtime)
{
    int rc = 0;
    if (completed)
        rc = file_.close(mtime);
    else
        file_.abandon();
    deliverLog(completed && rc == 0 ? lfReceiveOk : lfReceiveFail);
    return rc;
}

// ---- EngineHost: reports ----

void Protocol::reportStatus(const TransferState& state, unsigned flags)
{
    if (flags & kStatusFirst) {
        fileLineIn_ = lineIn_;
        fileLineOut_ = lineOut_;
    }
    if ((flags & kStatusLast) && state.ProtocolStatus == psEndFile) {
        TransferRecord::File f;
        f.path = state.PathName;
        f.bytes = state.BytesTransferred > state.InitialPosition ? state.BytesTransferred - state.InitialPosition : 0;
        f.size = std::max(state.FileLength, state.BytesTransferred);
        std::lock_guard<std::mutex> lock(snapshotMutex_);
        record_.files.push_back(std::move(f));
    }
    TransferState st = state;
    if (st.Detail.empty() && (st.ProtocolStatus == psSkipFile || st.ProtocolStatus == psFileRejected))
        st.Detail = rejectDetail_;
    publish(st);
    deliverStatus(flags);
}

void Protocol::reportError(int code)
{
    lastError_ = code;
    if (!OnProtocolError)
        return;
    delivery_->send([this, code] { OnProtocolError(*this, code); }, 1000);
}

} // namespace zelvo::protocols
