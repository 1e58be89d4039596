#include "features/node_chain.h"

#include "frame/log.h"

namespace kavro::features::detail {

GevStatus Chain::enter(const genicam::FeatureNode& node, Step step) {
    for (size_t i = 0; i < depth_; ++i) {
        if (frames_[i].node == &node && frames_[i].step == step) {
            frame::gevLogf(device_, "[ERROR] - Reference cycle at node %s.", node.Name.c_str());
            return GEV_STATUS_REFERENCE_CYCLE;
        }
    }
    if (depth_ == frames_.size()) {
        frame::gevLogf(device_, "[ERROR] - Reference chain deeper than %zu at node %s.",
                       frames_.size(), node.Name.c_str());
        return GEV_STATUS_REFERENCE_CYCLE;
    }
    frames_[depth_++] = Frame{&node, step};
    return GEV_STATUS_SUCCESS;
}

void Chain::leave() {
    if (depth_ > 0) {
        --depth_;
    }
}

}  // namespace kavro::features::detail
