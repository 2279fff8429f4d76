#include "app/ui/transfer_controller.h"

#include "app/port_access.h"
#include "app/transfer_line.h"
#include "app/ui/terminal_access.h"
#include "app/ui/user_prompts.h"
#include "comm/exceptions.h"
#include "platform/paths.h"
#include "protocols/protocol.h"

#include <QString>
#include <QTimer>

#include <filesystem>

namespace zelvo::app {

namespace {

constexpr const char* kZmodemPattern = "B00000000000000";

bool isBatch(int type)
{
    return protocols::Protocol::BatchProtocol(protocols::TProtocolType(type));
}

} // namespace

TransferController::TransferController(Host& host, PortAccess& port, TerminalAccess& terminal,
                                       ProtocolSettings& settings, QObject* parent)
    : QObject(parent), host_(host), port_(port), terminal_(terminal), settings_(settings)
{
}

TransferController::~TransferController()
{
    setTransfer(nullptr, nullptr);
}

bool TransferController::ProtocolAvailable(int type)
{
    // Every item of the menus; a protocol without an engine ends its transfer with the
    // component's own error, which is reported like any other.
    return type >= protocols::ptXmodem && type <= protocols::ptAscii;
}

bool TransferController::itemEnabled(int type) const
{
    return protocol_ && ProtocolAvailable(type);
}

void TransferController::setTransfer(protocols::Protocol* protocol, TransferLine* line)
{
    if (protocol_) {
        protocol_->OnProtocolNextFile = nullptr;
        protocol_->OnProtocolFinish = nullptr;
        protocol_->OnProtocolError = nullptr;
    }
    protocol_ = protocol;
    line_ = line;
    if (!protocol_ || !line_) {
        protocol_ = nullptr;
        line_ = nullptr;
        return;
    }
    protocol_->OnProtocolNextFile = [this](protocols::Protocol&, std::string& name) {
        ProtocolProtocolNextFile(name);
    };
    protocol_->OnProtocolFinish = [this](protocols::Protocol&, int code) {
        ProtocolProtocolFinish(code);
    };
    protocol_->OnProtocolError = [this](protocols::Protocol&, int code) {
        ProtocolProtocolError(code);
    };
    // The transfer settings that are not stored keep these values. Received names keep
    // their case: on this system "a.txt" and "A.TXT" are different files.
    protocol_->setBlockCheckMethod(protocols::bcmChecksum);
    protocol_->setHandshakeWait(1092);
    protocol_->setFinishWait(20);
    protocol_->setTurnDelay(1);
    protocol_->setOverhead(5);
    protocol_->setStatusInterval(10);
    protocol_->setFileMask("*.*");
    protocol_->setKermitPadCharacter('\0');
    protocol_->setUpcaseFileNames(false);
    if (protocol_->DestinationDirectory().empty())
        protocol_->setDestinationDirectory(platform::downloadDir());
    zmodemStart_ = [this] {
        if (!protocol_ || running_)
            return;
        protocol_->setProtocolType(protocols::ptZmodem);
        receiveFiles();
    };
    applySettings();
}

void TransferController::applySettings()
{
    if (!protocol_)
        return;
    const ProtocolSettings& p = settings_;
    using namespace protocols;
    // The type first: choosing a protocol resets the engine's own defaults.
    if (p.ProtocolType <= ptAscii)
        protocol_->setProtocolType(TProtocolType(p.ProtocolType));
    protocol_->setZmodemOptionOverride(p.ZmodemOptionOverride);
    protocol_->setZmodemSkipNoFile(p.ZmodemSkipNoFile);
    protocol_->setZmodemRecover(p.ZmodemRecover);
    protocol_->setZmodem8K(p.Zmodem8K);
    if (p.ZmodemFileOption <= zfoWriteProtect)
        protocol_->setZmodemFileOption(TZmodemFileOptions(p.ZmodemFileOption));
    protocol_->setHonorDirectory(p.HonorDirectory);
    protocol_->setIncludeDirectory(p.IncludeDirectory);
    protocol_->setRTSLowForWrite(p.RTSLowForWrite);
    protocol_->setAbortNoCarrier(p.AbortNoCarrier);
    if (p.WriteFailAction <= wfWriteResume)
        protocol_->setWriteFailAction(TWriteFailAction(p.WriteFailAction));
    protocol_->setKermitMaxLen(p.KermitMaxLen);
    protocol_->setKermitMaxWindows(p.KermitMaxWindows);
    protocol_->setKermitTimeoutSecs(p.KermitTimeoutSecs);
    protocol_->setAsciiCharDelay(p.AsciiCharDelay);
    protocol_->setAsciiLineDelay(p.AsciiLineDelay);
    if (p.AsciiCRTranslation <= aetAddLFAfter)
        protocol_->setAsciiCRTranslation(TAsciiEOLTranslation(p.AsciiCRTranslation));
    if (p.AsciiLFTranslation <= aetAddLFAfter)
        protocol_->setAsciiLFTranslation(TAsciiEOLTranslation(p.AsciiLFTranslation));
    protocol_->setAsciiEOFTimeout(p.AsciiEOFTimeout);
    if (!p.BatchPath.empty())
        protocol_->setDestinationDirectory(p.BatchPath);
}

void TransferController::captureSettings()
{
    settings_.ZmodemAutoStart = zmodemAuto_;
    if (!protocol_)
        return;
    ProtocolSettings& p = settings_;
    p.ProtocolType = uint32_t(protocol_->ProtocolType());
    p.ZmodemOptionOverride = protocol_->ZmodemOptionOverride();
    p.ZmodemSkipNoFile = protocol_->ZmodemSkipNoFile();
    p.ZmodemRecover = protocol_->ZmodemRecover();
    p.Zmodem8K = protocol_->Zmodem8K();
    p.ZmodemFileOption = uint32_t(protocol_->ZmodemFileOption());
    p.HonorDirectory = protocol_->HonorDirectory();
    p.IncludeDirectory = protocol_->IncludeDirectory();
    p.RTSLowForWrite = protocol_->RTSLowForWrite();
    p.AbortNoCarrier = protocol_->AbortNoCarrier();
    p.WriteFailAction = uint32_t(protocol_->WriteFailAction());
    p.KermitMaxLen = protocol_->KermitMaxLen();
    p.KermitMaxWindows = protocol_->KermitMaxWindows();
    p.KermitTimeoutSecs = protocol_->KermitTimeoutSecs();
    p.AsciiCharDelay = protocol_->AsciiCharDelay();
    p.AsciiLineDelay = protocol_->AsciiLineDelay();
    p.AsciiCRTranslation = uint32_t(protocol_->AsciiCRTranslation());
    p.AsciiLFTranslation = uint32_t(protocol_->AsciiLFTranslation());
    p.AsciiEOFTimeout = protocol_->AsciiEOFTimeout();
}

void TransferController::cancel()
{
    if (running_ && protocol_)
        protocol_->CancelTransfer();
}

// ---- Zmodem auto-start -------------------------------------------------------------------

void TransferController::ArmZmodemTrigger()
{
    if (staleHandle_ != 0 && port_.isOpen()) {
        port_.dropTrigger(staleHandle_);
        staleHandle_ = 0;
    }
    if (!zmodemStart_ || !port_.isOpen() || !zmodemAuto_ || zmodemHandle_ != 0)
        return;
    zmodemHandle_ = port_.addDataTrigger(kZmodemPattern);
}

void TransferController::DisarmZmodemTrigger()
{
    if (zmodemHandle_ == 0)
        return;
    if (port_.isOpen())
        port_.dropTrigger(zmodemHandle_);
    else
        staleHandle_ = zmodemHandle_;
    zmodemHandle_ = 0;
}

void TransferController::ZmodemTrigger(uint16_t handle)
{
    // Started from the event loop: starting detaches this very listener.
    if (zmodemHandle_ != 0 && handle == zmodemHandle_ && zmodemStart_)
        QTimer::singleShot(0, this, [this] {
            if (zmodemStart_)
                zmodemStart_();
        });
}

// ---- File transfers -------------------------------------------------------------------

void TransferController::SendItemClick(int tag)
{
    if (!protocol_ || !line_ || running_ || !prompts_ || !ProtocolAvailable(tag))
        return;
    protocol_->setProtocolType(protocols::TProtocolType(tag));
    protocol_->setTurnDelay(1);
    const bool batch = isBatch(tag);
    std::vector<QString> files =
        prompts_->chooseSendFiles(QString::fromStdString(settings_.SendFile), batch);
    if (files.empty())
        return;
    if (!batch)
        files.resize(1);
    sendFiles_.clear();
    for (const QString& f : files)
        sendFiles_.push_back(f.toStdString());
    settings_.SendFile = sendFiles_.front();

    DisarmZmodemTrigger();
    host_.detachListeners();
    terminal_.setActive(false);
    nextFileIndex_ = 0;
    line_->flushInput();
    startTransfer(true);
}

void TransferController::ReceiveItemClick(int tag)
{
    if (!protocol_ || !line_ || running_ || !ProtocolAvailable(tag))
        return;
    protocol_->setProtocolType(protocols::TProtocolType(tag));
    receiveFiles();
}

void TransferController::receiveFiles()
{
    if (!protocol_ || !line_ || running_)
        return;
    host_.detachListeners();
    terminal_.setActive(false);
    protocol_->setTurnDelay(1);
    DisarmZmodemTrigger();
    if (prompts_) {
        if (!isBatch(protocol_->ProtocolType())) {
            if (auto path = prompts_->chooseReceiveFile(QString::fromStdString(settings_.ReceiveFile))) {
                std::filesystem::path p(path->toStdString());
                settings_.ReceiveFile = p.string();
                // The old file goes first; if it cannot, the receive goes ahead anyway.
                std::error_code ec;
                std::filesystem::remove(p, ec);
                protocol_->setDestinationDirectory(p.parent_path().string());
                protocol_->setFileName(p.filename().string());
            }
        } else if (auto dir = prompts_->chooseDirectory(QString::fromStdString(settings_.BatchPath))) {
            protocol_->setDestinationDirectory(dir->toStdString());
            settings_.BatchPath = dir->toStdString();
        }
    }
    startTransfer(false);
}

void TransferController::startTransfer(bool transmit)
{
    running_ = true;
    host_.transferStateChanged();
    // A transfer that cannot start has raised its finish event already (queued), which
    // hands the line back and reports the code like any other end.
    errorShown_ = false;
    if (transmit)
        line_->beginTransmit(*protocol_);
    else
        line_->beginReceive(*protocol_);
}

void TransferController::ProtocolProtocolNextFile(std::string& fileName)
{
    if (nextFileIndex_ < sendFiles_.size())
        fileName = sendFiles_[nextFileIndex_++];
    else
        fileName.clear();
}

void TransferController::ProtocolProtocolFinish(int code)
{
    if (!running_)
        return;
    running_ = false;
    terminal_.setActive(true);
    // What moved, or why nothing did, stays on record in the terminal.
    if (protocol_)
        terminal_.showLine(protocols::TransferSummary(protocol_->LastTransfer()));
    host_.attachListeners();
    ArmZmodemTrigger();
    host_.refreshLights();
    host_.transferStateChanged();
    // Every failed transfer is reported, also one that ended without an error event
    // (cancelled by the far side, abandoned in the middle of a file).
    if (code != 0 && !errorShown_)
        reportError(code);
}

void TransferController::ProtocolProtocolError(int code)
{
    if (protocol_)
        protocol_->CancelTransfer();
    reportError(code);
}

void TransferController::reportError(int code)
{
    errorShown_ = true;
    // The engine waits for this event (on the line's thread); the message box must not
    // hold it, so it is shown once the event has returned.
    const QString text = QStringLiteral("Fatal protokol error:") + QString::fromStdString(FatalErrorText(code));
    QTimer::singleShot(0, this, [this, text] {
        if (prompts_)
            prompts_->error(text);
    });
}

std::string TransferController::FatalErrorText(int code)
{
    std::string text = comm::ErrorText(code);
    if (text.empty() || text == "Qarn exception" || text.rfind("Unknown error", 0) == 0)
        text = std::to_string(code);
    return text;
}

void TransferController::ProtocolItemClick()
{
    // The engine reads these settings while a transfer runs.
    if (!protocol_ || !prompts_ || running_)
        return;
    bool autoStart = zmodemAuto_;
    if (!prompts_->protocolOptions(*protocol_, autoStart))
        return;
    if (autoStart != zmodemAuto_) {
        zmodemAuto_ = autoStart;
        if (zmodemAuto_)
            ArmZmodemTrigger();
        else
            DisarmZmodemTrigger();
    }
}

} // namespace zelvo::app
