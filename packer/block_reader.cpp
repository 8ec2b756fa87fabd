// Walking a block's entry stream: decoded through a bounded input buffer and
// a 128 KiB output window, parsed as it comes out.
#include "block_reader.h"

#include <zlib.h>
#include <zstd.h>

#include <memory>

#include "payload/block_format.h"
#include "text_display.h"

namespace {

std::string number(uint64_t value) { return std::to_string(value); }

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

const size_t input_chunk = 1 << 20;
const size_t output_chunk = 128 << 10;
const size_t fields_bytes = entry_size_bytes + entry_checksum_bytes;

struct FreeDecoder {
    void operator()(ZSTD_DCtx* decoder) const { ZSTD_freeDCtx(decoder); }
};

std::string decoder_fault(size_t code) {
    if (ZSTD_getErrorCode(code) == ZSTD_error_frameParameter_windowTooLarge)
        return "a frame needs a window above 2^27 bytes, which a launcher does not decode";
    return std::string("the compressed data is damaged (zstd: ") + ZSTD_getErrorName(code) + ")";
}

class Walker {
public:
    Walker(const ImageBytes& bytes, uint64_t block_offset, const BlockShape& shape, const WalkChecks& checks,
           EntrySink& sink, WalkSummary* summary, BlockProblem* problem)
        : bytes_(bytes), block_offset_(block_offset), shape_(shape), checks_(checks), sink_(sink),
          summary_(summary), problem_(problem), input_(input_chunk), output_(output_chunk) {}

    bool run() {
        *summary_ = WalkSummary();
        decoder_.reset(ZSTD_createDCtx());
        if (!decoder_) return fail_outside("out of memory for the decoder");
        const uint64_t frames_end = shape_.layout == BlockLayout::indexed ? walk_frames() : walk_stream();
        if (failed_) return false;
        summary_->stream_bytes = stream_pos_;
        return !checks_.ending || check_ending(frames_end);
    }

private:
    enum class State { name, fields, data, ended };

    // --- problems ---------------------------------------------------------

    bool fail(uint64_t block_byte, const std::string& what) {
        if (failed_) return false;
        failed_ = true;
        *problem_ = BlockProblem();
        problem_->block_byte = block_byte;
        problem_->what = what;
        return false;
    }

    // A problem inside the entry in progress, or the entry that comes next
    // when the index names it.
    bool fail_here(uint64_t block_byte, const std::string& what) {
        fail(block_byte, what);
        if (state_ == State::fields || state_ == State::data) {
            problem_->in_entry = true;
            problem_->entry = entry_.name;
        } else if (state_ == State::name && shape_.layout == BlockLayout::indexed &&
                   entries_seen_ < shape_.entries.size()) {
            problem_->in_entry = true;
            problem_->entry = shape_.entries[entries_seen_].name;
        } else if (state_ == State::name && entries_seen_ > 0) {
            problem_->what = "after entry '" + display_name(previous_name_) + "': " + what;
        }
        return false;
    }

    bool fail_outside(const std::string& what) {
        fail(0, what);
        problem_->located = false;
        return false;
    }

    // --- decoding ---------------------------------------------------------

    // Decodes block bytes [begin, end) and parses what comes out. Returns
    // where the last frame ended, or stops early: at the end marker unless
    // the ending is checked, or at the end of one frame with `one_frame`.
    uint64_t decode(uint64_t begin, uint64_t end, bool one_frame, bool* frame_done) {
        *frame_done = false;
        uint64_t next = begin;   // the next block byte to read
        ZSTD_inBuffer in{input_.data(), 0, 0};
        bool output_full = false;
        uint64_t frame_end = begin;
        auto position = [&]() { return next - (in.size - in.pos); };
        for (;;) {
            if (in.pos == in.size && !output_full) {
                if (next == end) {
                    // A single stream runs to the end of the block only
                    // when it is cut short: its frame should end first.
                    if (!one_frame) {
                        fail_here(end, state_ == State::ended
                                           ? "the block ends before its frame does: it is cut short or damaged"
                                           : "the block ends inside the entry stream: it is cut short or damaged");
                    }
                    return frame_end;
                }
                const size_t count = static_cast<size_t>(std::min<uint64_t>(input_.size(), end - next));
                std::string error;
                if (!bytes_.read(block_offset_ + next, input_.data(), count, &error)) {
                    fail_here(next, error);
                    return 0;
                }
                in = {input_.data(), count, 0};
                next += count;
            }
            const uint64_t before = position();
            ZSTD_outBuffer out{output_.data(), output_.size(), 0};
            const size_t status = ZSTD_decompressStream(decoder_.get(), &out, &in);
            if (ZSTD_isError(status)) {
                fail_here(before, decoder_fault(status));
                return 0;
            }
            output_full = out.pos == out.size;
            if (!parse(output_.data(), out.pos, before)) return 0;
            if (state_ == State::ended && !checks_.ending && !one_frame) return frame_end;
            if (status != 0) continue;
            // A frame is complete and flushed.
            frame_end = position();
            *frame_done = true;
            if (one_frame || state_ == State::ended) return frame_end;
            // The stream goes on in the next frame, as a launcher's reader
            // would take it, unless only padding and a trailer follow.
            if (is_ending(frame_end)) {
                fail_here(frame_end, "the entry stream ends without its end marker");
                return 0;
            }
        }
    }

    uint64_t walk_stream() {
        bool frame_done = false;
        // Stops at the end marker when the frame's end is not needed.
        return decode(block_magic_size, shape_.size, false, &frame_done);
    }

    uint64_t walk_frames() {
        uint64_t frames_end = 0;
        for (size_t f = 0; f < shape_.frames.size(); ++f) {
            const IndexedFrame& frame = shape_.frames[f];
            frame_ = f;
            frame_start_ = stream_pos_;
            const bool boundary = state_ == State::ended || (state_ == State::name && name_.empty() && pending_ == 0);
            if (!boundary) {
                fail_here(frame.block_offset, "frame " + number(f) + " begins inside this entry, where the index says an entry begins");
                return 0;
            }
            if (state_ == State::ended && !checks_.ending) return 0;
            ZSTD_DCtx_reset(decoder_.get(), ZSTD_reset_session_only);
            bool frame_done = false;
            const uint64_t end = frame.block_offset + frame.compressed_size;
            const uint64_t done_at = decode(frame.block_offset, end, true, &frame_done);
            if (failed_) return 0;
            if (!frame_done) {
                fail_here(end, "frame " + number(f) + " does not end where its index record says");
                return 0;
            }
            if (done_at != end) {
                fail_here(done_at, "frame " + number(f) + " ends " + number(end - done_at) +
                                       " bytes before the end its index record gives it");
                return 0;
            }
            if (stream_pos_ - frame_start_ != frame.content_size) {
                fail_here(done_at, "frame " + number(f) + " holds " + number(stream_pos_ - frame_start_) +
                                       " bytes of content, its index record " + number(frame.content_size));
                return 0;
            }
            frames_end = end;
        }
        if (state_ != State::ended) {
            fail_here(frames_end, "the entry stream ends without its end marker");
            return 0;
        }
        return frames_end;
    }

    // --- the entry stream --------------------------------------------------

    bool parse(const unsigned char* bytes, size_t count, uint64_t block_byte) {
        if (shape_.layout == BlockLayout::indexed && count > 0 &&
            stream_pos_ + count - frame_start_ > shape_.frames[frame_].content_size) {
            return fail_here(block_byte, "frame " + number(frame_) + " holds more content than its index record gives it");
        }
        while (count > 0) {
            if (state_ == State::ended) {
                if (checks_.ending) return fail(block_byte, "the entry stream goes on after its end marker");
                stream_pos_ += count;
                return true;
            }
            size_t used = 0;
            if (state_ == State::name) {
                used = take_name(bytes, count, block_byte);
            } else if (state_ == State::fields) {
                used = take_fields(bytes, count, block_byte);
            } else {
                used = take_data(bytes, count);
            }
            if (failed_) return false;
            bytes += used;
            count -= used;
            stream_pos_ += used;
        }
        return true;
    }

    size_t take_name(const unsigned char* bytes, size_t count, uint64_t block_byte) {
        size_t used = 0;
        if (name_.empty() && pending_ == 0) entry_start_ = stream_pos_;
        while (used < count) {
            pending_bytes_[pending_++] = bytes[used++];
            if (pending_ < name_unit_bytes) continue;
            pending_ = 0;
            const char16_t unit = static_cast<char16_t>(get_le(pending_bytes_, name_unit_bytes));
            if (unit == 0) {
                if (name_.empty()) {
                    end_marker(block_byte);
                } else {
                    state_ = State::fields;
                }
                return used;
            }
            if (name_.size() == max_entry_name_units) {
                fail_here(block_byte, "an entry name runs past " + number(max_entry_name_units) +
                                          " units, more than a launcher takes");
                return used;
            }
            name_.push_back(unit);
        }
        return used;
    }

    void end_marker(uint64_t block_byte) {
        if (shape_.layout == BlockLayout::indexed && entries_seen_ != shape_.entries.size()) {
            fail(block_byte, "the entry stream ends after " + number(entries_seen_) + " entries, the index lists " +
                                 number(shape_.entries.size()));
            return;
        }
        state_ = State::ended;
    }

    size_t take_fields(const unsigned char* bytes, size_t count, uint64_t block_byte) {
        size_t used = 0;
        while (used < count && pending_ < fields_bytes) pending_bytes_[pending_++] = bytes[used++];
        if (pending_ < fields_bytes) return used;
        pending_ = 0;
        entry_ = WalkedEntry();
        entry_.name = name_;
        entry_.size = get_le(pending_bytes_, entry_size_bytes);
        entry_.stored = static_cast<uint32_t>(get_le(pending_bytes_ + entry_size_bytes, entry_checksum_bytes));
        entry_.stream_offset = entry_start_;
        entry_.block_byte = block_byte;
        entry_.number = entries_seen_;
        name_.clear();
        state_ = State::data;
        if (shape_.layout == BlockLayout::indexed && !matches_index(block_byte)) return used;
        crc_ = 0;
        data_left_ = entry_.size;
        std::string error;
        if (!sink_.begin(entry_, &error)) {
            fail_outside(error);
            return used;
        }
        if (data_left_ == 0) finish_entry();
        return used;
    }

    bool matches_index(uint64_t block_byte) {
        if (entries_seen_ >= shape_.entries.size())
            return fail_here(block_byte, "the stream holds more entries than the index lists");
        const IndexedEntry& listed = shape_.entries[entries_seen_];
        const uint64_t offset = entry_.stream_offset - frame_start_;
        if (listed.name != entry_.name) {
            return fail_here(block_byte, "the index lists '" + display_name(listed.name) + "' in its place");
        }
        if (listed.frame != frame_ || listed.offset != offset) {
            return fail_here(block_byte, "the index places it at byte " + number(listed.offset) + " of frame " +
                                             number(listed.frame) + ", the stream at byte " + number(offset) +
                                             " of frame " + number(frame_));
        }
        if (listed.size != entry_.size || listed.checksum != entry_.stored) {
            return fail_here(block_byte, "the index gives it " + number(listed.size) + " bytes with checksum " +
                                             hex32(listed.checksum) + ", the stream " + number(entry_.size) +
                                             " bytes with checksum " + hex32(entry_.stored));
        }
        return true;
    }

    size_t take_data(const unsigned char* bytes, size_t count) {
        const size_t used = static_cast<size_t>(std::min<uint64_t>(count, data_left_));
        if (checks_.data) crc_ = static_cast<uint32_t>(crc32_z(crc_, bytes, used));
        std::string error;
        if (!sink_.data(bytes, used, &error)) {
            fail_outside(error);
            return used;
        }
        data_left_ -= used;
        if (data_left_ == 0) finish_entry();
        return used;
    }

    void finish_entry() {
        if (checks_.data && stored_checksum(crc_) != entry_.stored) {
            fail_here(entry_.block_byte, "its data does not match its stored checksum (stored " +
                                             hex32(entry_.stored) + ", the data gives " +
                                             hex32(stored_checksum(crc_)) + ")");
            return;
        }
        std::string error;
        if (!sink_.end(entry_, &error)) {
            fail_outside(error);
            return;
        }
        ++summary_->files;
        summary_->bytes += entry_.size;
        ++entries_seen_;
        previous_name_ = entry_.name;
        state_ = State::name;
    }

    // --- the end of the block ----------------------------------------------

    // Whether block bytes [at, size) are exactly zero padding and a trailer.
    bool is_ending(uint64_t at) {
        if (shape_.size != trailer_offset(at) + trailer_bytes) return false;
        std::string rest, error;
        if (!bytes_.read(block_offset_ + at, shape_.size - at, &rest, &error)) return false;
        for (size_t i = 0; i + trailer_bytes < rest.size(); ++i)
            if (rest[i] != 0) return false;
        return get_le(reinterpret_cast<const unsigned char*>(rest.data()) + rest.size() - trailer_bytes,
                      trailer_bytes) == trailer_offset(at);
    }

    bool check_ending(uint64_t frames_end) {
        const uint64_t trailer_at = trailer_offset(frames_end);
        if (shape_.size != trailer_at + trailer_bytes) {
            return fail(frames_end, "the frames end here, so the block should be " +
                                        number(trailer_at + trailer_bytes) + " bytes with its padding and trailer, not " +
                                        number(shape_.size));
        }
        std::string rest, error;
        if (!bytes_.read(block_offset_ + frames_end, shape_.size - frames_end, &rest, &error))
            return fail(frames_end, error);
        for (size_t i = 0; i + trailer_bytes < rest.size(); ++i)
            if (rest[i] != 0) return fail(frames_end + i, "the padding after the frames is not zero");
        const uint64_t trailer =
            get_le(reinterpret_cast<const unsigned char*>(rest.data()) + rest.size() - trailer_bytes, trailer_bytes);
        if (trailer != trailer_at) {
            return fail(trailer_at, "the trailer holds " + number(trailer) + ", not its own offset " + number(trailer_at));
        }
        return true;
    }

    const ImageBytes& bytes_;
    const uint64_t block_offset_;
    const BlockShape& shape_;
    const WalkChecks checks_;
    EntrySink& sink_;
    WalkSummary* summary_;
    BlockProblem* problem_;
    std::vector<unsigned char> input_, output_;
    std::unique_ptr<ZSTD_DCtx, FreeDecoder> decoder_;
    bool failed_ = false;

    State state_ = State::name;
    std::u16string name_, previous_name_;
    unsigned char pending_bytes_[fields_bytes] = {};
    size_t pending_ = 0;
    WalkedEntry entry_;
    uint64_t data_left_ = 0;
    uint32_t crc_ = 0;
    uint64_t stream_pos_ = 0, entry_start_ = 0, frame_start_ = 0;
    size_t entries_seen_ = 0, frame_ = 0;
};

}  // namespace

bool walk_block(const ImageBytes& bytes, uint64_t block_offset, const BlockShape& shape, const WalkChecks& checks,
                EntrySink& sink, WalkSummary* summary, BlockProblem* problem) {
    return Walker(bytes, block_offset, shape, checks, sink, summary, problem).run();
}
