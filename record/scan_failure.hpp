#pragma once

// Every way the analysis of one file can fail, with the words its record
// gives it. Each failure has one message, in scanFailureText, and one name
// that an index keeps, in scanFailureName; the detail that message needs
// travels beside it, never inside a sentence.

#include <string>

namespace tempo::scan {

enum class ScanFailure {
    System,         // code: the errno value ("permission denied")
    NotRegular,     // a folder, FIFO or device given as a file
    Shrank,         // cut short by another process while it was read
    DecoderMissing,  // the decoder program is not there
    DecoderNotRun,   // code: the errno value of the failed start
    DecoderUnwatched,  // code: the errno value: its pipes could no longer be watched
    TimedOut,       // code: the time limit in seconds
    DecoderKilled,  // code: the signal (or exception) that ended the decoder
    DecoderStatus,  // code: the decoder's exit status; it said nothing
    NotAudio,       // the decoder gave up before any audio, on content that is no audio this tool knows
    EndsEarly,      // the decoder gave up on audio that stops short
    NotWaveStream,  // the decoder's output was not the WAVE stream asked for
    TooLong,        // more audio than a WAVE stream can describe
    Empty,          // a file of no bytes at all
    Boundless,      // a decoder in this process gave more audio than the file's bytes can code
    NoAudio,        // the file was read to its end without one sample (a WAVE header with no data)
};

struct ScanError {
    ScanFailure failure = ScanFailure::System;
    int code = 0;             // as the failure says
    std::string decoder;      // the decoder program, as given
    std::string decoderLine;  // the decoder's first line of complaint ("" if none)
};

// The record's words for `error` ("no such file or directory",
// "file ends early (ffmpeg: End of file)", ...).
std::string scanFailureText(const ScanError& error);

// The failure's name as an index keeps it ("not audio"): fixed once given,
// whatever becomes of the enum or of its message. nullptr for a value
// outside the enum, which is how scanFailureNamed finds every name.
const char* scanFailureName(ScanFailure failure);

// The failure an index's `name` stands for; false for a name no
// tempo-scan gives.
bool scanFailureNamed(const std::string& name, ScanFailure& failure);

// Whether `failure` comes from the file's content alone, so that the same
// file fails the same way again (an index keeps such a record); the others
// depend on the moment or the machine (a decoder missing or killed, a time
// limit, a permission) and are tried again.
bool failureLasts(ScanFailure failure);

// The name a message gives a decoder: "ffmpeg" for /usr/bin/ffmpeg and for
// C:\ffmpeg\bin\FFMPEG.EXE alike.
std::string programName(const std::string& program);

}  // namespace tempo::scan
