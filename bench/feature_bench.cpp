// Node evaluation per call against the simulated camera on loopback: a cached integer read by
// name, an uncached one next to a bare GEVReadRegister of the same register, integer and double
// swiss-knife evaluation next to the bare evaluator call, and the compiled-formula cache against
// parsing the formula on every evaluation.
#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

#include "KavroGigEVisionLib.h"
#include "features/node_access.h"
#include "frame/device_open.h"
#include "genicam/feature_model.h"
#include "mathparser/compiler.h"
#include "mathparser/evaluator.h"
#include "mathparser/formula_cache.h"
#include "mathparser/mathparser.h"
#include "platform/shared_table.h"
#include "sim/camera_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using kavro::genicam::FeatureNode;
using kavro::genicam::NodeKind;

constexpr uint8_t kDevice = 1;
constexpr uint32_t kCachedAddress = 0x10000;
constexpr uint32_t kPlainAddress = 0x10004;
constexpr std::string_view kIntegerFormula = "(A * 10 + B) << 2 | (A & 0xF0)";
constexpr std::string_view kDoubleFormula = "X / 4 + 1.5 * X - 0.25";

// Median nanoseconds per call over `rounds` rounds of `perRound` calls.
template <class Op>
double nsPerCall(int rounds, int perRound, Op&& op) {
    std::vector<double> samples;
    for (int r = 0; r < rounds; ++r) {
        const auto t0 = Clock::now();
        for (int i = 0; i < perRound; ++i) {
            if (!op()) {
                std::fprintf(stderr, "operation failed\n");
                return 0;
            }
        }
        samples.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count() /
                          perRound);
    }
    std::nth_element(samples.begin(), samples.begin() + rounds / 2, samples.end());
    return samples[rounds / 2];
}

FeatureNode& registerNode(kavro::genicam::FeatureModel& model, const char* name, uint32_t address,
                          uint8_t cachable) {
    FeatureNode& node = model.appendNode(name, NodeKind::Integer, "IntReg");
    node.Address = address;
    node.Length = 4;
    node.AccessMode = kavro::genicam::kAccessRW;
    node.portIsDevice = 1;
    node.Cachable = cachable;
    return node;
}

std::shared_ptr<kavro::genicam::FeatureModel> benchModel() {
    auto model = std::make_shared<kavro::genicam::FeatureModel>();
    registerNode(*model, "CachedReg", kCachedAddress, kavro::genicam::kCacheWriteThrough);
    registerNode(*model, "PlainReg", kPlainAddress, kavro::genicam::kCacheNone);
    model->appendNode("VarA", NodeKind::Integer, "Integer").Value = 0x35;
    model->appendNode("VarB", NodeKind::Integer, "Integer").Value = 7;
    model->appendNode("VarX", NodeKind::Float, "Float").FloatValue = 3.0;
    FeatureNode& integerKnife = model->appendNode("IntKnife", NodeKind::Integer, "IntSwissKnife");
    integerKnife.pVariable = {{"VarA", "A"}, {"VarB", "B"}};
    integerKnife.Formula = kIntegerFormula;
    FeatureNode& doubleKnife = model->appendNode("FloatKnife", NodeKind::Float, "SwissKnife");
    doubleKnife.pVariable = {{"VarX", "X"}};
    doubleKnife.Formula = kDoubleFormula;
    model->indexNodes();
    return model;
}

// Variable values for running a program directly.
class BenchVariables final : public kavro::mathparser::VariableSource {
  public:
    bool load(std::string_view name, kavro::mathparser::Value& value) const override {
        if (name == "A") {
            value = kavro::mathparser::integerValue(0x35);
        } else if (name == "B") {
            value = kavro::mathparser::integerValue(7);
        } else {
            return false;
        }
        return true;
    }
};

}  // namespace

int main() {
    kavro::platform::SharedOpenFlags::usePrivateTableForThisProcess();
    auto camera = kavro::sim::CameraServer::startOnLoopback();
    if (!camera) {
        return 1;
    }
    GevConnectInfo info{};
    info.deviceAddress = camera->addressNet();
    info.hostAddress = htonl(INADDR_LOOPBACK);
    info.subnetMask = htonl(0xFF000000);
    if (kavro::frame::openWithoutHandshake(kDevice, info, nullptr, 1) != 0) {
        return 1;
    }
    camera->model().writeRegister(kCachedAddress, 11);
    camera->model().writeRegister(kPlainAddress, 22);
    auto model = benchModel();

    uint64_t value = 0;
    const double cached = nsPerCall(21, 20000, [&] {
        return kavro::features::readInteger(kDevice, *model, "CachedReg", value) == 0;
    });
    const double bareRegister = nsPerCall(11, 500, [&] {
        uint32_t word = 0;
        return GEVReadRegister(kDevice, kPlainAddress, 1, &word) == GEV_STATUS_SUCCESS;
    });
    const double uncached = nsPerCall(11, 500, [&] {
        return kavro::features::readInteger(kDevice, *model, "PlainReg", value) == 0;
    });

    int64_t bareInteger = 0;
    const int64_t a = 0x35;
    const int64_t b = 7;
    (void)kavro::mathparser::defineIntegerVariable("A", &a);
    (void)kavro::mathparser::defineIntegerVariable("B", &b);
    const std::string integerText(kIntegerFormula);
    const double bareIntegerFormula = nsPerCall(21, 20000, [&] {
        return kavro::mathparser::evaluateIntegerFormula(integerText.c_str(), &bareInteger) ==
               nullptr;
    });
    const double integerKnife = nsPerCall(21, 20000, [&] {
        return kavro::features::readInteger(kDevice, *model, "IntKnife", value) == 0;
    });
    double real = 0;
    double bareReal = 0;
    const double x = 3.0;
    (void)kavro::mathparser::defineDoubleVariable("X", &x);
    const std::string doubleText(kDoubleFormula);
    const double bareDoubleFormula = nsPerCall(21, 20000, [&] {
        return kavro::mathparser::evaluateDoubleFormula(doubleText.c_str(), &bareReal) == nullptr;
    });
    const double doubleKnife = nsPerCall(21, 20000, [&] {
        return kavro::features::readFloat(kDevice, *model, "FloatKnife", real) == 0;
    });

    const BenchVariables variables;
    kavro::mathparser::Value out;
    const double parsedEachTime = nsPerCall(21, 20000, [&] {
        const auto program = kavro::mathparser::compile(kIntegerFormula);
        return kavro::mathparser::run(*program, kavro::mathparser::Mode::Integer, variables, out) ==
               nullptr;
    });
    const double compiledOnce = nsPerCall(21, 20000, [&] {
        const auto program = kavro::mathparser::compiledFormula(kIntegerFormula);
        return kavro::mathparser::run(*program, kavro::mathparser::Mode::Integer, variables, out) ==
               nullptr;
    });

    std::printf("node evaluation per call (median of rounds), simulator on loopback\n");
    std::printf("  cached integer read by name        %9.0f ns\n", cached);
    std::printf("  bare GEVReadRegister (baseline)    %9.0f ns\n", bareRegister);
    std::printf("  uncached integer read by name      %9.0f ns  ratio to baseline %.3f\n", uncached,
                uncached / bareRegister);
    std::printf("  cached read / register round trip  %9.4f\n", cached / bareRegister);
    std::printf("  bare integer formula (baseline)    %9.0f ns\n", bareIntegerFormula);
    std::printf("  integer swiss knife, 2 variables   %9.0f ns  ratio to baseline %.2f\n",
                integerKnife, integerKnife / bareIntegerFormula);
    std::printf("  bare double formula (baseline)     %9.0f ns\n", bareDoubleFormula);
    std::printf("  double swiss knife, 1 variable     %9.0f ns  ratio to baseline %.2f\n",
                doubleKnife, doubleKnife / bareDoubleFormula);
    std::printf("  formula parsed on every call       %9.0f ns\n", parsedEachTime);
    std::printf("  formula compiled once (cache)      %9.0f ns  speed-up %.1fx\n", compiledOnce,
                parsedEachTime / compiledOnce);
    std::printf("  results: %llu %lld %.3f\n", static_cast<unsigned long long>(value),
                static_cast<long long>(bareInteger), real);
    return 0;
}
