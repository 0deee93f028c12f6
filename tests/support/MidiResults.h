// The results of the midi… calls, compared so that a failure names them:
// "MIDIERR_STILLPLAYING", not "65".
//   EXPECT_MM(midiOutClose(handle), MMSYSERR_NOERROR);
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "midi/MidiApi.h"

namespace zuxtest {

inline std::string resultName(MMRESULT result) {
    switch (result) {
    case MMSYSERR_NOERROR: return "MMSYSERR_NOERROR";
    case MMSYSERR_ERROR: return "MMSYSERR_ERROR";
    case MMSYSERR_BADDEVICEID: return "MMSYSERR_BADDEVICEID";
    case MMSYSERR_ALLOCATED: return "MMSYSERR_ALLOCATED";
    case MMSYSERR_INVALHANDLE: return "MMSYSERR_INVALHANDLE";
    case MMSYSERR_NODRIVER: return "MMSYSERR_NODRIVER";
    case MMSYSERR_NOMEM: return "MMSYSERR_NOMEM";
    case MMSYSERR_BADERRNUM: return "MMSYSERR_BADERRNUM";
    case MMSYSERR_INVALFLAG: return "MMSYSERR_INVALFLAG";
    case MMSYSERR_INVALPARAM: return "MMSYSERR_INVALPARAM";
    case MIDIERR_UNPREPARED: return "MIDIERR_UNPREPARED";
    case MIDIERR_STILLPLAYING: return "MIDIERR_STILLPLAYING";
    case MIDIERR_NODEVICE: return "MIDIERR_NODEVICE";
    case MIDIERR_PORTGONE: return "MIDIERR_PORTGONE";
    default: return "result " + std::to_string(result);
    }
}

inline ::testing::AssertionResult sameResult(const char* actualExpression, const char*, MMRESULT actual,
                                             MMRESULT expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actualExpression << " gave " << resultName(actual) << ", not "
                                         << resultName(expected);
}

}  // namespace zuxtest

#define EXPECT_MM(actual, expected) EXPECT_PRED_FORMAT2(::zuxtest::sameResult, actual, expected)
#define ASSERT_MM(actual, expected) ASSERT_PRED_FORMAT2(::zuxtest::sameResult, actual, expected)
