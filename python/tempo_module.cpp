// The Python module tempo (its compiled half, tempo._tempo): both
// analyses on NumPy arrays and on files, for people who study music
// collections in notebooks.
//
// Every number is the one the programs give. An array is fed to the same
// TempoStream as a WAVE file's bytes (int16 arrays of one or two channels,
// as 16-bit stereo little-endian bytes) or a decoder's float samples
// (every other array), and its reading becomes a record through
// tempo-scan's own takeReading; a file goes through tempo-scan's
// analyseFile (a WAVE that tempo accepts in place, anything else through
// the in-process decoders or ffmpeg). The input is copied while the
// interpreter's lock is held and the analysis runs without it, so threads
// analyse in parallel. Failures are Python's own exceptions: ValueError
// for an argument, OSError (with errno) for a file that cannot be read,
// tempo.DecodeError for one that holds no audio this tool decodes.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/file_image.hpp"
#include "decode/analyse_file.hpp"
#include "record/scan_failure.hpp"
#include "record/scan_record.hpp"
#include "tempo/estimate.hpp"

#ifndef TEMPO_VERSION
#define TEMPO_VERSION "unknown"
#endif

namespace py = pybind11;

namespace tempo::python {
namespace {

// Above this a sample rate is a mistake (a frame count passed as the
// rate, say): no audio format codes music above 768 kHz.
constexpr long long kMaxSampleRate = 1000000;
// The most channels an audio format codes (Ogg Vorbis and Opus: 255); an
// array of one or two frames with more is channels-first audio.
constexpr py::ssize_t kMostChannels = 255;
// tempo-scan's bounds for --range MIN-MAX (scan/options.cpp).
constexpr long long kMaxRangeMin = 100000;
constexpr long long kMaxRangeMax = 1000000;

// What one analysis gives Python: tempo-scan's record of it.
struct Result {
    std::optional<int> bpm;          // the whole number tempo-scan reports; none for no tempo
    std::optional<double> tempo;     // the same, not rounded
    std::optional<double> confidence;  // 0 to 1, accurate method only
    std::string status;              // "ok" or "no tempo"
    std::string method;              // "accurate" or "classic"
    std::vector<double> beats;       // seconds from the start
    std::vector<std::pair<double, double>> tempoChanges;  // (seconds, BPM)
    std::vector<double> downbeats;   // seconds: the first beat of each bar, where a metre stands out
    std::optional<int> metre;        // beats to a bar (2, 3 or 4); none where no bar stands out
    bool endsEarly = false;          // a file damaged or cut short, analysed as far as it goes
};

struct Shape {
    std::size_t frames = 0;
    std::size_t channels = 0;
};

enum class SampleType { Int16, Float32, Float64 };

// The exception type tempo.DecodeError; the module holds it too, so it
// lives as long as the interpreter (and is never released after it).
PyObject* decodeErrorType = nullptr;

Method parseMethod(const std::string& name) {
    if (name == "accurate") return Method::Accurate;
    if (name == "classic") return Method::Classic;
    throw py::value_error("method is 'accurate' or 'classic', not '" + name + "'");
}

// An argument that must be a whole number: an int or anything with
// __index__ (NumPy's integers), else TypeError; with its digits for a
// message, and its value clamped to the long long range (beyond which it
// is beyond every bound here).
struct WholeNumber {
    long long value = 0;
    std::string text;
};

WholeNumber wholeNumber(const py::handle& argument) {
    const auto whole = py::reinterpret_steal<py::object>(PyNumber_Index(argument.ptr()));
    if (!whole) throw py::error_already_set();
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(whole.ptr(), &overflow);
    WholeNumber number{value, py::str(whole).cast<std::string>()};
    if (overflow != 0) number.value = overflow > 0 ? LLONG_MAX : LLONG_MIN;
    return number;
}

// tempo-scan's --range, with its checks: MAX at least twice MIN, so that
// each tempo has one place in the range. None: any tempo.
scan::TempoRange parseRange(const py::object& range) {
    if (range.is_none()) return {};
    if (!PySequence_Check(range.ptr()) || py::isinstance<py::str>(range) || py::isinstance<py::bytes>(range)) {
        throw py::type_error("range is None or a pair (MIN, MAX)");
    }
    const auto pair = py::reinterpret_borrow<py::sequence>(range);
    if (pair.size() != 2) throw py::value_error("range needs two numbers, (MIN, MAX), not " + std::to_string(pair.size()));
    const WholeNumber low = wholeNumber(pair[0]);
    const WholeNumber high = wholeNumber(pair[1]);
    if (low.value < 1 || low.value > kMaxRangeMin || high.value < 1 || high.value > kMaxRangeMax ||
        high.value < 2 * low.value) {
        throw py::value_error("range needs (MIN, MAX) with MIN from 1 to 100000, MAX up to 1000000 and at least "
                              "twice MIN, not (" + low.text + ", " + high.text + ")");
    }
    return scan::TempoRange{static_cast<unsigned>(low.value), static_cast<unsigned>(high.value)};
}

std::uint32_t checkedRate(const py::object& argument) {
    const WholeNumber rate = wholeNumber(argument);
    if (rate.value < 1 || rate.value > kMaxSampleRate) {
        throw py::value_error("sample_rate must be from 1 to 1000000 Hz, not " + rate.text);
    }
    return static_cast<std::uint32_t>(rate.value);
}

SampleType sampleType(const py::array& samples) {
    const py::dtype type = samples.dtype();
    const char kind = type.kind();
    const py::ssize_t size = type.itemsize();
    if (kind == 'i' && size == 2) return SampleType::Int16;
    if (kind == 'f' && size == 4) return SampleType::Float32;
    if (kind == 'f' && size == 8) return SampleType::Float64;
    throw py::value_error("samples must be int16, float32 or float64, not " + py::str(static_cast<const py::handle&>(type)).cast<std::string>());
}

Shape sampleShape(const py::array& samples) {
    const py::ssize_t dimensions = samples.ndim();
    if (dimensions == 1) return Shape{static_cast<std::size_t>(samples.shape(0)), 1};
    if (dimensions != 2) {
        throw py::value_error("samples must be 1-D (mono) or 2-D (frames, channels), not " +
                              std::to_string(dimensions) + "-D");
    }
    if (samples.shape(1) == 0) throw py::value_error("samples have no channels: the shape is (frames, 0)");
    // librosa and torchaudio give (channels, frames): read as it stands,
    // such an array is one or two frames of thousands of channels, whose
    // mean is no sound at all.
    if (samples.shape(0) <= 2 && samples.shape(1) > kMostChannels) {
        throw py::value_error("samples must be (frames, channels), not (" + std::to_string(samples.shape(0)) + ", " +
                              std::to_string(samples.shape(1)) + "): channels first? pass samples.T");
    }
    return Shape{static_cast<std::size_t>(samples.shape(0)), static_cast<std::size_t>(samples.shape(1))};
}

// The array as it is read: C order and native byte order (a copy where
// it was not), with the place and size its data had then.
struct SampleSource {
    py::array array;
    SampleType type = SampleType::Int16;
    Shape shape;
    const void* data = nullptr;
};

// One block of frames as the stream takes it, copied out of the array.
struct Block {
    std::vector<unsigned char> bytes;  // 16-bit stereo little-endian: int16 arrays of 1 or 2 channels
    std::vector<float> floats;         // interleaved, `channels` to a frame: every other array
    std::size_t frames = 0;
    unsigned channels = 0;  // of `floats`: 1 or 2
};

// Frames copied and analysed at a time: small enough that a block stays
// in the cache between its copy and its analysis (a whole copy of a long
// array would cost a tenth of the analysis), large enough that taking the
// interpreter's lock back for the next one costs nothing.
constexpr std::size_t kBlockFrames = 32768;

template <typename Sample>
py::array nativeArray(const py::array& array) {
    return py::array_t<Sample, py::array::c_style | py::array::forcecast>::ensure(array);
}

SampleSource sampleSource(const py::array& array) {
    SampleSource source;
    source.type = sampleType(array);
    source.shape = sampleShape(array);
    switch (source.type) {
        case SampleType::Int16:
            source.array = nativeArray<std::int16_t>(array);
            break;
        case SampleType::Float32:
            source.array = nativeArray<float>(array);
            break;
        case SampleType::Float64:
            source.array = nativeArray<double>(array);
            break;
    }
    source.data = source.array.data();
    return source;
}

// Whether an int16 array's bytes are already those of a WAVE file.
bool littleEndianHost() {
    const std::uint16_t probe = 1;
    unsigned char first = 0;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

void putLittleEndian(std::int16_t sample, unsigned char* out) {
    const auto value = static_cast<std::uint16_t>(sample);
    out[0] = static_cast<unsigned char>(value & 0xFFU);
    out[1] = static_cast<unsigned char>(value >> 8U);
}

// More than two channels, mixed to their mean as the in-process decoders
// mix such a file: the sum in float, channel by channel, times the share.
void mixDown(std::vector<float>& values, std::size_t frames, std::size_t channels) {
    const float share = 1.0F / static_cast<float>(channels);
    for (std::size_t i = 0; i < frames; ++i) {
        float sum = 0.0F;
        for (std::size_t c = 0; c < channels; ++c) sum += values[i * channels + c];
        values[i] = sum * share;
    }
    values.resize(frames);
}

// One or two channels: the bytes a WAVE file of this audio holds (a mono
// sample in both channels), so the classic reading is tempo's line for
// that file.
void copyInt16Bytes(const std::int16_t* data, std::size_t frames, std::size_t channels, Block& block) {
    block.bytes.resize(frames * 4);
    if (channels == 2 && littleEndianHost()) {
        std::memcpy(block.bytes.data(), data, frames * 4);
        return;
    }
    for (std::size_t i = 0; i < frames; ++i) {
        putLittleEndian(data[i * channels], &block.bytes[4 * i]);
        putLittleEndian(data[i * channels + channels - 1], &block.bytes[4 * i + 2]);
    }
}

[[noreturn]] void refuseSample(std::size_t index, std::size_t channels, double value) {
    std::ostringstream text;
    text << "samples must be finite and within float32's range, but frame " << index / channels << ", channel "
         << index % channels << " is " << value;
    throw py::value_error(text.str());
}

// Float samples at full scale 1.0 (int16 at 32768) as float32, what the
// stream takes; a NaN or an infinity, which no sound is, is refused rather
// than read. `first` is the index of data[0] in the whole array.
template <typename Sample>
void copyFloats(const Sample* data, std::size_t count, std::size_t first, std::size_t channels, Block& block) {
    block.floats.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        if constexpr (std::is_same_v<Sample, std::int16_t>) {
            block.floats[i] = static_cast<float>(data[i]) / 32768.0F;
        } else {
            block.floats[i] = static_cast<float>(data[i]);
            if (!std::isfinite(block.floats[i])) refuseSample(first + i, channels, static_cast<double>(data[i]));
        }
    }
}

template <typename Sample>
void copyTyped(const SampleSource& source, std::size_t first, Block& block) {
    const std::size_t channels = source.shape.channels;
    const Sample* data = static_cast<const Sample*>(source.data) + first * channels;
    if constexpr (std::is_same_v<Sample, std::int16_t>) {
        if (channels <= 2) return copyInt16Bytes(data, block.frames, channels, block);
    }
    copyFloats(data, block.frames * channels, first * channels, channels, block);
    block.channels = channels <= 2 ? static_cast<unsigned>(channels) : 1U;
    if (channels > 2) mixDown(block.floats, block.frames, channels);
}

// Frames [first, first + count) into `block`, with the interpreter's lock
// held: an array resized meanwhile (its data moved or its length changed)
// is refused rather than read where it was.
void copyBlock(const SampleSource& source, std::size_t first, std::size_t count, Block& block) {
    if (source.array.data() != source.data || static_cast<std::size_t>(source.array.shape(0)) != source.shape.frames) {
        throw py::value_error("samples were resized while they were analysed");
    }
    block.frames = count;
    switch (source.type) {
        case SampleType::Int16:
            return copyTyped<std::int16_t>(source, first, block);
        case SampleType::Float32:
            return copyTyped<float>(source, first, block);
        case SampleType::Float64:
            break;
    }
    copyTyped<double>(source, first, block);
}

void feedBlock(TempoStream& stream, const Block& block) {
    if (!block.bytes.empty()) feedTempoStream(stream, block.bytes.data(), block.bytes.size());
    if (!block.floats.empty()) feedTempoStreamSamples(stream, block.floats.data(), block.frames, block.channels);
}

Result resultOf(const scan::ScanRecord& record) {
    Result result;
    result.method = record.method == Method::Accurate ? "accurate" : "classic";
    result.confidence = record.confidence;
    result.endsEarly = record.endsEarly;
    if (record.status != scan::ScanStatus::Ok) {
        result.status = "no tempo";
        return result;
    }
    result.status = "ok";
    result.bpm = record.bpm;
    result.tempo = record.tempo;
    result.beats = record.beats;
    for (const pulse::TempoChange& change : record.tempoChanges) result.tempoChanges.emplace_back(change.at, change.bpm);
    result.downbeats = record.downbeats;
    if (record.metre != 0) result.metre = static_cast<int>(record.metre);
    return result;
}

// Each block is copied with the interpreter's lock held and analysed
// without it; the stream's reading does not depend on how it is cut.
Result analyse(const py::array& array, const py::object& sampleRate, const std::string& methodName,
               const py::object& rangeArgument) {
    const Method method = parseMethod(methodName);
    const scan::TempoRange range = parseRange(rangeArgument);
    const std::uint32_t rate = checkedRate(sampleRate);
    const SampleSource source = sampleSource(array);
    scan::ScanRecord record;
    record.method = method;
    TempoStream stream;
    startTempoStream(stream, method, rate);
    Block block;
    for (std::size_t first = 0; first < source.shape.frames; first += kBlockFrames) {
        copyBlock(source, first, std::min(kBlockFrames, source.shape.frames - first), block);
        py::gil_scoped_release unlocked;
        feedBlock(stream, block);
    }
    {
        py::gil_scoped_release unlocked;
        scan::takeReading(record, finishTempoStream(stream), range);
    }
    return resultOf(record);
}

// Raises the exception of a record that failed: OSError with the errno
// value for a file that cannot be read (EISDIR for a folder, EINVAL for
// another file that is not a regular one, EIO for one cut short while it
// was read), DecodeError for the rest, each with the record's words.
[[noreturn]] void raiseFailure(const scan::ScanRecord& record, const py::object& path) {
    const std::string text = record.status == scan::ScanStatus::Interrupted
                                 ? std::string("the analysis was interrupted")
                                 : scan::scanFailureText(record.error);
    int code = 0;
    if (record.status == scan::ScanStatus::Error) {
        if (record.error.failure == scan::ScanFailure::System) code = record.error.code;
        if (record.error.failure == scan::ScanFailure::NotRegular) {
            code = py::module_::import("os.path").attr("isdir")(path).cast<bool>() ? EISDIR : EINVAL;
        }
        if (record.error.failure == scan::ScanFailure::Shrank) code = EIO;
    }
    py::object error;
    if (code != 0) {
        error = py::reinterpret_borrow<py::object>(PyExc_OSError)(code, text, path);
    } else {
        error = py::reinterpret_borrow<py::object>(decodeErrorType)(text);
        error.attr("filename") = path;
    }
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    throw py::error_already_set();
}

Result analyseFile(const py::object& path, const std::string& methodName, const py::object& rangeArgument) {
    const Method method = parseMethod(methodName);
    const scan::TempoRange range = parseRange(rangeArgument);
    const std::string name = py::module_::import("os").attr("fsencode")(path).cast<std::string>();
    if (name.find('\0') != std::string::npos) throw py::value_error("path has an embedded null byte");
    scan::DecodeSettings settings;
    settings.method = method;
    scan::ScanRecord record;
    {
        py::gil_scoped_release unlocked;
        record = scan::analyseFile(name, settings, range);
    }
    if (record.status == scan::ScanStatus::Error || record.status == scan::ScanStatus::Interrupted) {
        raiseFailure(record, path);
    }
    return resultOf(record);
}

// The fields as Python writes them (repr of each), the lists by length.
std::string resultText(const Result& result) {
    const py::str text("tempo.Result(status={!r}, bpm={!r}, tempo={!r}, confidence={!r}, method={!r}, "
                       "beats=<{} beats>, tempo_changes=<{} changes>)");
    return text
        .format(result.status, result.bpm, result.tempo, result.confidence, result.method, result.beats.size(),
                result.tempoChanges.size())
        .cast<std::string>();
}

}  // namespace

const char* const kModuleDoc =
    "The tempo of music, as the tempo and tempo-scan programs measure it.\n"
    "\n"
    "analyse(samples, sample_rate) reads a NumPy array, analyse_file(path) a file;\n"
    "both return a Result. The accurate method (the default) is tempo-scan's; the\n"
    "classic one is tempo's, whole BPM from 60 to 239.";

const char* const kAnalyseDoc =
    "The tempo of the audio in `samples`, a NumPy array of int16 (full scale\n"
    "32768), float32 or float64 (full scale 1.0): 1-D for mono, or 2-D with\n"
    "shape (frames, channels). Any layout or byte order is accepted (it is\n"
    "copied). An int16 array of one or two channels is read as the 16-bit\n"
    "stereo bytes of a WAVE file holding it (a mono sample in both channels):\n"
    "with method='classic' its bpm is the number tempo prints for that file\n"
    "(tempo's bpm:59 is status 'no tempo' here). Float samples are read as an\n"
    "in-process decoder gives them; more than two channels are mixed to their\n"
    "mean. `sample_rate` is in Hz, 1 to 1000000. `method` is 'accurate' or\n"
    "'classic'. `range`, a pair (MIN, MAX) with MAX at least twice MIN, doubles\n"
    "or halves the tempo into it, as tempo-scan --range MIN-MAX does.\n"
    "\n"
    "Raises ValueError for a dtype, shape, sample rate, method or range it\n"
    "does not take (a 2-D array of one or two rows and more than 255 columns\n"
    "is channels-first audio: pass samples.T), and for a sample that is NaN,\n"
    "infinite, or beyond float32;\n"
    "TypeError for samples that are no NumPy array, or a rate or range that\n"
    "is not whole numbers.\n"
    "The interpreter's lock is released while the analysis runs.";

const char* const kAnalyseFileDoc =
    "The tempo of the audio file at `path` (str, bytes or os.PathLike), read\n"
    "as tempo-scan reads it: a 16-bit stereo WAVE that tempo accepts where it\n"
    "lies; MP3, FLAC, Ogg Vorbis and Opus by the decoders built in (accurate\n"
    "method); anything else through the ffmpeg program. The Result is\n"
    "tempo-scan's record of the file; `method` and `range` are as for analyse.\n"
    "\n"
    "Raises OSError with its errno for a file that cannot be read\n"
    "(FileNotFoundError, PermissionError; IsADirectoryError for a folder,\n"
    "EINVAL for a device or FIFO, EIO for a file cut short while it was read)\n"
    "and tempo.DecodeError for one that holds no audio this tool can decode\n"
    "(its message is tempo-scan's words, its filename attribute the path).\n"
    "The interpreter's lock is released while the file is analysed.";

void defineResult(py::module_& module) {
    py::class_<Result> result(module, "Result",
                              "The analysis of one piece of audio: tempo-scan's record of it.");
    result.def_readonly("bpm", &Result::bpm, "The tempo in BPM as tempo-scan reports it (a whole number), or None "
                                             "for no tempo.")
        .def_readonly("tempo", &Result::tempo, "The same tempo not rounded, or None for no tempo.")
        .def_readonly("confidence", &Result::confidence,
                      "0 to 1: the estimated chance that the tempo is within 4 % of the one a listener would "
                      "write down (accurate method); None for the classic method.")
        .def_readonly("status", &Result::status, "'ok', or 'no tempo' where no beat stands out.")
        .def_readonly("method", &Result::method, "'accurate' or 'classic'.")
        .def_readonly("beats", &Result::beats, "The time of every beat in seconds from the start (accurate method; "
                                               "[] otherwise).")
        .def_readonly("tempo_changes", &Result::tempoChanges,
                      "(at, bpm) pairs: where the tempo departs from the piece's for at least 8 beats, in seconds, "
                      "and the tempo from there on ([] for a steady piece).")
        .def_readonly("downbeats", &Result::downbeats,
                      "The time of the first beat of every bar in seconds, a subset of beats ([] where no bar "
                      "stands out).")
        .def_readonly("metre", &Result::metre,
                      "Beats to a bar (2, 3 or 4), or None where no bar stands out.")
        .def_readonly("ends_early", &Result::endsEarly,
                      "True for a file that is damaged or cut short, analysed as far as it could be decoded.")
        .def("__repr__", &resultText);
    result.attr("__module__") = "tempo";
}

void defineModule(py::module_& module) {
    module.doc() = kModuleDoc;
    // A file cut short by another process while it is mapped reads as
    // zeros and fails as OSError (EIO) instead of ending the interpreter.
    installFileImageGuard();
    decodeErrorType = PyErr_NewExceptionWithDoc(
        "tempo.DecodeError", "A file that holds no audio this tool can decode; str() is tempo-scan's words, "
        "filename the path.", PyExc_Exception, nullptr);
    if (decodeErrorType == nullptr) throw py::error_already_set();
    module.attr("DecodeError") = py::reinterpret_borrow<py::object>(decodeErrorType);
    defineResult(module);
    module.def("analyse", &analyse, kAnalyseDoc, py::arg("samples"), py::arg("sample_rate"),
               py::arg("method") = "accurate", py::arg("range") = py::none());
    module.def("analyse_file", &analyseFile, kAnalyseFileDoc, py::arg("path"), py::arg("method") = "accurate",
               py::arg("range") = py::none());
    module.attr("__version__") = TEMPO_VERSION;
}

}  // namespace tempo::python

PYBIND11_MODULE(_tempo, module) { tempo::python::defineModule(module); }
