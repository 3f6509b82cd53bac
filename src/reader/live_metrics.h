#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "reader/summary.h"

namespace prometheus {
class Exposer;
class Registry;
class Histogram;
class Counter;
}  // namespace prometheus

// A live run's figures for Prometheus: the latency histogram, frames read,
// rejected by reason, and dropped.
class LiveMetrics {
public:
    LiveMetrics();
    ~LiveMetrics();
    LiveMetrics(const LiveMetrics&) = delete;
    LiveMetrics& operator=(const LiveMetrics&) = delete;

    void Count(const LatencySample& sample, std::size_t framesDropped);

    // Serves them at http://ADDRESS:PORT/metrics; throws when the address
    // cannot be bound. Returns the port bound (the one asked for, or the
    // one the system chose for port 0).
    int Serve(const std::string& address);

    // What a scrape returns, in Prometheus' text format.
    std::string Text() const;

private:
    std::shared_ptr<prometheus::Registry> registry_;
    prometheus::Histogram* latency_ = nullptr;
    prometheus::Counter* read_ = nullptr;
    prometheus::Counter* rejected_[kRejectionCount] = {};
    prometheus::Counter* dropped_ = nullptr;
    std::size_t droppedCounted_ = 0;
    std::unique_ptr<prometheus::Exposer> exposer_;
};

// "PORT" alone is served on loopback; "ADDRESS:PORT" as given.
std::string MetricsBindAddress(std::string_view option);
