#include "reader/live_metrics.h"

#include <sstream>

#include <prometheus/counter.h>
#include <prometheus/exposer.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

namespace {

// Latency buckets, seconds: a few milliseconds apart where copies usually
// lag, wider beyond.
const prometheus::Histogram::BucketBoundaries kLatencyBucketsS{0.0,   0.005, 0.01, 0.02, 0.03, 0.04, 0.05, 0.06,
                                                               0.08,  0.1,   0.125, 0.15, 0.2, 0.3, 0.5, 1.0, 2.0};

}  // namespace

LiveMetrics::LiveMetrics() : registry_(std::make_shared<prometheus::Registry>())
{
    latency_ = &prometheus::BuildHistogram()
                    .Name("tixabo_latency_seconds")
                    .Help("Latency between the reference clock and the farthest other, per frame read")
                    .Register(*registry_)
                    .Add({}, kLatencyBucketsS);
    read_ = &prometheus::BuildCounter()
                 .Name("tixabo_frames_read_total")
                 .Help("Frames that gave a latency")
                 .Register(*registry_)
                 .Add({});
    auto& rejected = prometheus::BuildCounter()
                         .Name("tixabo_frames_rejected_total")
                         .Help("Frames that gave no latency, by reason")
                         .Register(*registry_);
    for (int reason = 0; reason < kRejectionCount; ++reason) {
        rejected_[reason] = &rejected.Add({{"reason", std::string(RejectionName(static_cast<Rejection>(reason)))}});
    }
    dropped_ = &prometheus::BuildCounter()
                    .Name("tixabo_frames_dropped_total")
                    .Help("Frames skipped because reading fell behind the source")
                    .Register(*registry_)
                    .Add({});
}

LiveMetrics::~LiveMetrics() = default;

void LiveMetrics::Count(const LatencySample& sample, std::size_t framesDropped)
{
    if (sample.latencyUs) {
        latency_->Observe(static_cast<double>(*sample.latencyUs) / 1e6);
        read_->Increment();
    } else if (sample.rejection) {
        rejected_[static_cast<int>(*sample.rejection)]->Increment();
    }
    if (framesDropped > droppedCounted_) {
        dropped_->Increment(static_cast<double>(framesDropped - droppedCounted_));
        droppedCounted_ = framesDropped;
    }
}

int LiveMetrics::Serve(const std::string& address)
{
    exposer_ = std::make_unique<prometheus::Exposer>(address, 1);
    exposer_->RegisterCollectable(registry_);
    const std::vector<int> ports = exposer_->GetListeningPorts();
    return ports.empty() ? 0 : ports.front();
}

std::string LiveMetrics::Text() const
{
    std::ostringstream text;
    prometheus::TextSerializer().Serialize(text, registry_->Collect());
    return text.str();
}

std::string MetricsBindAddress(std::string_view option)
{
    if (option.find(':') == std::string_view::npos) return "127.0.0.1:" + std::string(option);
    return std::string(option);
}
