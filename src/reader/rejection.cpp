#include "reader/rejection.h"

std::string_view RejectionName(Rejection rejection)
{
    switch (rejection) {
    case Rejection::NoClock: return "no clock";
    case Rejection::OneClock: return "one clock";
    case Rejection::Blended: return "blended";
    case Rejection::Torn: return "torn";
    case Rejection::DoubtfulDigit: return "doubtful digit";
    case Rejection::NoReferenceClock: return "no reference clock";
    case Rejection::ClocksDisagree: return "clocks disagree";
    case Rejection::UnreadableFile: return "unreadable file";
    case Rejection::NotImageOrVideo: return "not an image or video";
    case Rejection::TruncatedVideo: return "truncated video";
    case Rejection::TruncatedPicture: return "truncated picture";
    case Rejection::PictureTooLarge: return "picture too large";
    }
    return "unknown";
}
