#include "sim/camera_model.h"

#include <arpa/inet.h>

#include "gvcp/bootstrap.h"
#include "sim/bootstrap_map.h"
#include "sim/feature_registers.h"

namespace kavro::sim {

using namespace kavro::gvcp;

namespace {
Answer failure(uint16_t status, uint16_t ackCode) {
    return Answer{status, ackCode, {}};
}

std::vector<uint8_t> payloadOf(const std::vector<uint8_t>& ack) {
    return {ack.begin() + static_cast<std::ptrdiff_t>(kHeaderSize), ack.end()};
}
}  // namespace

std::vector<uint8_t> commandDatagram(const CommandHeader& header,
                                     std::span<const uint8_t> payload) {
    std::vector<uint8_t> datagram(kHeaderSize);
    writeCommandHeader(std::span<uint8_t, kHeaderSize>(datagram.data(), kHeaderSize), header);
    datagram.insert(datagram.end(), payload.begin(), payload.end());
    return datagram;
}

CameraModel::CameraModel(const CameraConfig& config)
    : config_(config), memory_(config.userMemoryBase, config.userMemorySize) {
    defineBootstrap(memory_, config_);
    defineFeatureRegisters(memory_, config_);
    if (config_.writeOnlyUserMemoryFrom)
        memory_.setUserMemoryWriteOnlyFrom(*config_.writeOnlyUserMemoryFrom);
    testPackets_ = std::make_unique<TestPackets>(config_);
    (void)memory_.setWriteHook(
        reg::kScps0,
        [packets = testPackets_.get()](DeviceMemory& memory, RegisterWriteRequest& request) {
            return packets->onScpsWrite(memory, request);
        });
    handlers_[kReadRegCmd].handler = [this](const CommandHeader&, std::span<const uint8_t> payload,
                                            const Peer&) {
        return std::optional(readReg(payload));
    };
    handlers_[kWriteRegCmd].handler = [this](const CommandHeader&, std::span<const uint8_t> payload,
                                             const Peer& sender) {
        return std::optional(writeReg(payload, sender));
    };
    handlers_[kReadMemCmd].handler = [this](const CommandHeader&, std::span<const uint8_t> payload,
                                            const Peer&) {
        return std::optional(readMem(payload));
    };
    handlers_[kWriteMemCmd].handler = [this](const CommandHeader&, std::span<const uint8_t> payload,
                                             const Peer& sender) {
        return std::optional(writeMem(payload, sender));
    };
    handlers_[kDiscoveryCmd].handler = [this](const CommandHeader& header, std::span<const uint8_t>,
                                              const Peer&) {
        return std::optional(discovery(header));
    };
    if ((config_.gvcpCapability & reg::kCapAction) != 0) {
        handlers_[kActionCmd].handler =
            [this](const CommandHeader& header, std::span<const uint8_t> payload,
                   const Peer& sender) { return action(header, payload, sender); };
    }
}

std::optional<std::vector<uint8_t>> CameraModel::handleCommand(std::span<const uint8_t> datagram,
                                                               const Peer& sender, Peer* replyTo) {
    const auto header = parseCommandHeader(datagram);
    if (!header)
        return std::nullopt;
    const uint16_t defaultAckCode = static_cast<uint16_t>(header->command + 1);

    uint16_t admitted;
    {
        std::lock_guard lock(mutex_);
        privilege_.heard(sender, Clock::now());
        admitted = admitCommand(header->command, sender);
    }

    std::optional<Answer> answer;
    if (header->length > datagram.size() - kHeaderSize) {
        // The length field claims bytes that never arrived.
        answer = failure(kStatusInvalidParameter, defaultAckCode);
    } else if (admitted != kStatusSuccess) {
        answer = failure(admitted, defaultAckCode);
    } else {
        CommandHandler handler;
        {
            std::lock_guard lock(handlersMutex_);
            if (const auto it = handlers_.find(header->command); it != handlers_.end()) {
                handler = it->second.handler;
                ++handlersRunning_;
            }
        }
        if (handler) {
            // The count tells setCommandHandler that a call is still running on what the
            // handler captured.
            struct Running {
                CameraModel& model;
                ~Running() {
                    std::lock_guard lock(model.handlersMutex_);
                    if (--model.handlersRunning_ == 0)
                        model.handlersIdle_.notify_all();
                }
            } running{*this};
            answer = handler(*header, commandPayload(datagram, *header), sender);
        } else {
            answer = failure(kStatusNotImplemented, defaultAckCode);
        }
    }
    if (!answer || (header->flags & kFlagAckRequired) == 0)
        return std::nullopt;
    if (replyTo != nullptr)
        *replyTo = answer->broadcast ? Peer{INADDR_BROADCAST, sender.port} : sender;
    return buildAck(answer->status, answer->ackCode, header->reqId, answer->payload);
}

uint64_t CameraModel::setCommandHandler(uint16_t command, CommandHandler handler) {
    CommandHandler previous;
    std::unique_lock lock(handlersMutex_);
    if (const auto it = handlers_.find(command); it != handlers_.end())
        previous = std::move(it->second.handler);
    const uint64_t ticket = ++lastTicket_;
    if (handler) {
        handlers_[command] = InstalledHandler{std::move(handler), ticket};
    } else {
        handlers_.erase(command);
    }
    // A call that copied the previous handler may still be running on what it captured.
    if (previous)
        handlersIdle_.wait(lock, [this] { return handlersRunning_ == 0; });
    return ticket;
}

void CameraModel::removeCommandHandler(uint16_t command, uint64_t ticket) {
    CommandHandler previous;
    std::unique_lock lock(handlersMutex_);
    const auto it = handlers_.find(command);
    if (it == handlers_.end() || it->second.ticket != ticket)
        return;
    previous = std::move(it->second.handler);
    handlers_.erase(it);
    handlersIdle_.wait(lock, [this] { return handlersRunning_ == 0; });
}

Answer CameraModel::readReg(std::span<const uint8_t> payload) {
    const auto addresses = parseReadRegPayload(payload);
    if (!addresses)
        return failure(kStatusInvalidParameter, kReadRegAck);
    std::vector<uint32_t> values;
    values.reserve(addresses->size());
    uint16_t status = kStatusSuccess;
    {
        std::lock_guard lock(mutex_);
        for (const uint32_t address : *addresses) {
            uint32_t value = 0;
            status = memory_.readRegister(address, value);
            if (status != kStatusSuccess)
                break;
            afterFeatureRead(memory_, address, 4);
            values.push_back(value);
        }
    }
    // A failed read answers the values read before the bad address.
    return Answer{status, kReadRegAck, payloadOf(buildReadRegAck(status, 0, values))};
}

Answer CameraModel::writeReg(std::span<const uint8_t> payload, const Peer& sender) {
    const auto writes = parseWriteRegPayload(payload);
    if (!writes)
        return failure(kStatusInvalidParameter, kWriteRegAck);
    uint16_t status = kStatusSuccess;
    uint16_t written = 0;
    {
        std::lock_guard lock(mutex_);
        for (const RegisterWrite& write : *writes) {
            status = admitWrite(write.address, sender);
            if (status == kStatusSuccess)
                status = memory_.writeRegister(write.address, write.value, &sender);
            if (status != kStatusSuccess)
                break;
            if (write.address == reg::kCcp)
                afterCcpWrite(sender);
            ++written;
        }
    }
    return Answer{status, kWriteRegAck, payloadOf(buildWriteRegAck(status, 0, written))};
}

Answer CameraModel::readMem(std::span<const uint8_t> payload) {
    const auto request = parseReadMemPayload(payload);
    if (!request || request->count == 0 || request->count % 4 != 0 ||
        request->count > kMaxMemoryChunk) {
        return failure(kStatusInvalidParameter, kReadMemAck);
    }
    std::vector<uint8_t> data(request->count);
    uint16_t status;
    {
        std::lock_guard lock(mutex_);
        status = memory_.readMemory(request->address, data);
        if (status == kStatusSuccess)
            afterFeatureRead(memory_, request->address, request->count);
    }
    if (status != kStatusSuccess)
        data.clear();
    return Answer{status, kReadMemAck,
                  payloadOf(buildReadMemAck(status, 0, request->address, data))};
}

Answer CameraModel::writeMem(std::span<const uint8_t> payload, const Peer& sender) {
    const auto request = parseWriteMemPayload(payload);
    if (!request || request->data.empty() || request->data.size() % 4 != 0) {
        return failure(kStatusInvalidParameter, kWriteMemAck);
    }
    uint32_t written = 0;
    uint16_t status;
    {
        std::lock_guard lock(mutex_);
        // A block over the CCP register is a CCP write, with its rules and effects.
        const uint64_t end = uint64_t{request->address} + request->data.size();
        const bool coversCcp = request->address <= reg::kCcp && reg::kCcp < end;
        status = admitWrite(coversCcp ? reg::kCcp : request->address, sender);
        if (status == kStatusSuccess)
            status = memory_.writeMemory(request->address, request->data, &sender, written);
        if (coversCcp && request->address + written > reg::kCcp)
            afterCcpWrite(sender);
    }
    return Answer{status, kWriteMemAck,
                  payloadOf(buildWriteMemAck(status, 0, static_cast<uint16_t>(written)))};
}

void CameraModel::defineRegister(uint32_t address, Access access, uint32_t initial,
                                 WriteHook onWrite) {
    std::lock_guard lock(mutex_);
    memory_.defineRegister(address, access, initial, std::move(onWrite));
}

bool CameraModel::setWriteHook(uint32_t address, WriteHook onWrite) {
    std::lock_guard lock(mutex_);
    return memory_.setWriteHook(address, std::move(onWrite));
}

uint16_t CameraModel::readRegister(uint32_t address, uint32_t& value) const {
    std::lock_guard lock(mutex_);
    return memory_.readRegister(address, value);
}

uint16_t CameraModel::writeRegister(uint32_t address, uint32_t value, const Peer& sender) {
    std::lock_guard lock(mutex_);
    return memory_.writeRegister(address, value, &sender);
}

uint32_t CameraModel::readRegister(uint32_t address) const {
    std::lock_guard lock(mutex_);
    return memory_.value(address);
}

void CameraModel::writeRegister(uint32_t address, uint32_t value) {
    std::lock_guard lock(mutex_);
    memory_.setValue(address, value);
}

std::vector<uint8_t> CameraModel::readMemory(uint32_t address, uint32_t count) const {
    std::lock_guard lock(mutex_);
    return memory_.bytes(address, count);
}

void CameraModel::writeMemory(uint32_t address, std::span<const uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    memory_.setBytes(address, bytes);
}

void CameraModel::setCurrentAddress(uint32_t addressNet, uint32_t maskNet, uint32_t gatewayNet) {
    // The registers read as the address: 192.168.1.10 is 0xC0A8010A.
    std::lock_guard lock(mutex_);
    memory_.setValue(reg::kCurrentIpAddress, ntohl(addressNet));
    memory_.setValue(reg::kCurrentSubnetMask, config().reportedSubnetMask.value_or(ntohl(maskNet)));
    memory_.setValue(reg::kCurrentGateway, ntohl(gatewayNet));
}

}  // namespace kavro::sim
