// JPEG through libjpeg(-turbo), or a stand-in that says the build has none.
#include "picture_decode.h"

#ifdef RASTROM_HAVE_JPEG
#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#endif

namespace rastrom {

#ifdef RASTROM_HAVE_JPEG

namespace {

// A progressive file may hold any number of scans, each a pass over the whole picture;
// more than this many is an attack on the time taken, not a photo.
constexpr int kMaxScans = 500;

// The rows handed out together: about 256 KiB of pixels.
constexpr std::size_t kBandBytes = std::size_t{256} << 10;

// Everything the decoding touches lives here, outside the frame that calls setjmp, so a
// jump out of the library leaves no local in doubt.
struct JpegJob {
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  jpeg_progress_mgr progress{};
  std::jmp_buf jump{};
  bool created = false;
  bool truncated = false;
  char message[JMSG_LENGTH_MAX] = {};
  DecodedPicture* result = nullptr;
  const DecodedRowSink* sink = nullptr;  // null: the header only
  std::vector<std::uint8_t> band;
};

JpegJob* JobOf(j_common_ptr info) { return static_cast<JpegJob*>(info->client_data); }

[[noreturn]] void Stop(j_common_ptr info) {
  JpegJob* job = JobOf(info);
  (*info->err->format_message)(info, job->message);
  std::longjmp(job->jump, 1);
}

// Warnings are the library patching over a broken stream (a cut-off file filled with
// grey, a corrupt marker skipped): refused, so that no guessed pixel is ever written.
void OnMessage(j_common_ptr info, int level) {
  if (level >= 0) return;  // trace messages
  if (info->err->msg_code == JWRN_JPEG_EOF) JobOf(info)->truncated = true;
  Stop(info);
}

void OnProgress(j_common_ptr info) {
  auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
  if (decompress->input_scan_number > kMaxScans) {
    std::snprintf(JobOf(info)->message, JMSG_LENGTH_MAX, "more than %d scans", kMaxScans);
    std::longjmp(JobOf(info)->jump, 1);
  }
}

// Decodes the header into job->result and, with a sink, the rows into job->band, handed to
// the sink whenever it is full; false after a jump out of the library, with job->message
// set. Nothing here but the job needs a destructor, which a jump would skip.
bool Run(JpegJob* job, std::span<const std::uint8_t> file, std::size_t maxBytes) {
  if (setjmp(job->jump) != 0) return false;
  DecodedPicture& result = *job->result;
  jpeg_create_decompress(&job->info);
  job->created = true;
  // Without backing store, more than this for the coefficients of a progressive file fails
  // cleanly instead of growing without bound: 6 bytes a pixel (three components without
  // subsampling, 2 bytes a coefficient), 1.5 times the pixels, and room for the tables.
  job->info.mem->max_memory_to_use = static_cast<long>(maxBytes / 2 * 3 + (std::size_t{64} << 20));
  jpeg_mem_src(&job->info, file.data(), static_cast<unsigned long>(file.size()));
  if (jpeg_read_header(&job->info, TRUE) != JPEG_HEADER_OK) {
    job->truncated = true;
    std::snprintf(job->message, JMSG_LENGTH_MAX, "no picture in the file");
    return false;
  }
  result.width = job->info.image_width;
  result.height = job->info.image_height;
  if (!PictureFits(result.width, result.height, maxBytes)) {
    result.error = PictureError::kTooLarge;
    return true;
  }
  const J_COLOR_SPACE space = job->info.jpeg_color_space;
  if (space == JCS_CMYK || space == JCS_YCCK) {
    result.error = PictureError::kUnsupported;
    result.detail = "a CMYK JPEG; only grey and colour (YCbCr or RGB) JPEGs are read";
    return true;
  }
  if (job->sink == nullptr) return true;
  job->info.out_color_space = JCS_EXT_BGRX;
  const std::size_t rowBytes = std::size_t{4} * result.width;
  const std::size_t bandRows = std::clamp<std::size_t>(kBandBytes / rowBytes, 1, result.height);
  job->band.resize(rowBytes * bandRows);
  jpeg_start_decompress(&job->info);
  while (job->info.output_scanline < job->info.output_height) {
    const std::size_t inBand = job->info.output_scanline % bandRows;
    JSAMPROW row = job->band.data() + rowBytes * inBand;
    jpeg_read_scanlines(&job->info, &row, 1);
    if (inBand + 1 == bandRows || job->info.output_scanline == job->info.output_height) {
      const std::span<std::uint8_t> rows(job->band.data(), rowBytes * (inBand + 1));
      for (std::size_t i = 3; i < rows.size(); i += 4) rows[i] = 0;
      const auto first = static_cast<std::uint32_t>(job->info.output_scanline - inBand - 1);
      if (!(*job->sink)(first, static_cast<std::uint32_t>(inBand + 1), rows)) return true;
    }
  }
  jpeg_finish_decompress(&job->info);
  return true;
}

DecodedPicture Decode(std::span<const std::uint8_t> file, std::size_t maxBytes, const DecodedRowSink* sink) {
  DecodedPicture result;
  JpegJob job;
  job.result = &result;
  job.sink = sink;
  job.info.err = jpeg_std_error(&job.errors);
  job.errors.error_exit = Stop;
  job.errors.emit_message = OnMessage;
  job.info.client_data = &job;
  job.progress.progress_monitor = OnProgress;
  job.info.progress = &job.progress;
  const bool finished = Run(&job, file, maxBytes);
  if (job.created) jpeg_destroy_decompress(&job.info);
  if (!finished) {
    result.error = job.truncated ? PictureError::kTruncated : PictureError::kCorrupt;
    result.detail = job.message;
  }
  return result;
}

}  // namespace

bool CanDecodeJpeg() { return true; }

DecodedPicture ReadJpegHeader(std::span<const std::uint8_t> file, std::size_t maxBytes) {
  return Decode(file, maxBytes, nullptr);
}

DecodedPicture DecodeJpegRows(std::span<const std::uint8_t> file, std::size_t maxBytes,
                              const DecodedRowSink& sink) {
  return Decode(file, maxBytes, &sink);
}

#elif !defined(_WIN32)

bool CanDecodeJpeg() { return false; }

DecodedPicture ReadJpegHeader(std::span<const std::uint8_t>, std::size_t) {
  DecodedPicture result;
  result.error = PictureError::kNotBuilt;
  return result;
}

DecodedPicture DecodeJpegRows(std::span<const std::uint8_t> file, std::size_t maxBytes, const DecodedRowSink&) {
  return ReadJpegHeader(file, maxBytes);
}

#endif

}  // namespace rastrom
