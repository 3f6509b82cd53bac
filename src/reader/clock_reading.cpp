#include "reader/clock_reading.h"

std::vector<ClockReading> ReadClocks(const cv::Mat&)
{
    return {};
}
