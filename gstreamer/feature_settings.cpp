#include "gstreamer/feature_settings.h"

#include <strings.h>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>

namespace kavro::gst {

namespace {

bool isSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

bool parseInteger(const std::string& text, int64_t& value) {
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0')
        return false;
    value = v;
    return true;
}

// With a decimal point whatever the application's locale, as GStreamer reads its own values.
bool parseFloat(const std::string& text, double& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+')
        ++first;  // from_chars takes no sign but a minus
    double v = 0.0;
    const auto [end, error] = std::from_chars(first, last, v);
    if (first == last || error != std::errc{} || end != last)
        return false;
    value = v;
    return true;
}

bool parseBoolean(const std::string& text, bool& value) {
    for (const char* on : {"1", "true", "on", "yes"}) {
        if (strcasecmp(text.c_str(), on) == 0) {
            value = true;
            return true;
        }
    }
    for (const char* off : {"0", "false", "off", "no"}) {
        if (strcasecmp(text.c_str(), off) == 0) {
            value = false;
            return true;
        }
    }
    return false;
}

GevStatus writeSetting(uint8_t device, const FeatureSetting& s, const GevFeatureParameter& p,
                       bool& badValue) {
    const char* name = s.name.c_str();
    switch (p.kind) {
        case GEV_FEATURE_INTEGER: {
            int64_t v = 0;
            if (!(badValue = !parseInteger(s.value, v)))
                return GEVSetFeatureInteger(device, name, v);
            break;
        }
        case GEV_FEATURE_FLOAT: {
            double v = 0.0;
            if (!(badValue = !parseFloat(s.value, v)))
                return GEVSetFeatureFloat(device, name, v);
            break;
        }
        case GEV_FEATURE_BOOLEAN: {
            bool v = false;
            if (!(badValue = !parseBoolean(s.value, v)))
                return GEVSetFeatureBoolean(device, name, v ? p.onValue : p.offValue);
            break;
        }
        case GEV_FEATURE_ENUMERATION:
            return GEVSetFeatureEnumeration(device, name, s.value.c_str());
        case GEV_FEATURE_STRING:
            return GEVSetFeatureString(device, name, s.value.c_str());
        case GEV_FEATURE_COMMAND:
            return GEVSetFeatureCommand(device, name, p.commandValue);
        default:
            return GEV_STATUS_NOT_SUPPORTED;
    }
    return GEV_STATUS_INVALID_ARGUMENT;
}

}  // namespace

bool parseFeatureSettings(std::string_view text, std::vector<FeatureSetting>& settings,
                          std::string& error) {
    settings.clear();
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSpace(text[i]))
            ++i;
        size_t end = i;
        while (end < text.size() && !isSpace(text[end]))
            ++end;
        if (end == i)
            break;
        const std::string_view token = text.substr(i, end - i);
        const size_t equals = token.find('=');
        FeatureSetting s;
        s.name = std::string(token.substr(0, equals));
        if (equals != std::string_view::npos)
            s.value = std::string(token.substr(equals + 1));
        if (s.name.empty()) {
            error = "feature setting \"" + std::string(token) + "\" has no name";
            return false;
        }
        settings.push_back(std::move(s));
        i = end;
    }
    return true;
}

GevStatus applyFeatureSetting(uint8_t device, const FeatureSetting& setting, std::string& error) {
    GevFeatureParameter p{};
    GevStatus status = GEVGetFeatureParameter(device, setting.name.c_str(), &p);
    bool badValue = false;
    if (status == GEV_STATUS_SUCCESS)
        status = writeSetting(device, setting, p, badValue);
    if (status != GEV_STATUS_SUCCESS) {
        error = "feature " + setting.name + "=" + setting.value + ": " +
                (badValue ? std::string("the value does not suit the feature's kind")
                          : std::string(GEVStatusText(status)));
    }
    return status;
}

}  // namespace kavro::gst
