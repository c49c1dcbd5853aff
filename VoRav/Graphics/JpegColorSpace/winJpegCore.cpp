// Only plain data live in these functions between setjmp and a possible
// longjmp out of libjpeg: no object here has a destructor to skip.
#include "VoRav/Graphics/JpegColorSpace/winJpegCore.h"

#include <cstring>

#include <jerror.h>

namespace kav {

namespace {

// `err` is the job's first member, so libjpeg's error-manager pointer is
// the job's address.
TJpegJob* JobOf(j_common_ptr c) { return reinterpret_cast<TJpegJob*>(c->err); }

void JpegErrorExit(j_common_ptr c) {
  TJpegJob* job = JobOf(c);
  job->error_code = c->err->msg_code ? c->err->msg_code : -1;
  std::longjmp(job->jump, 1);
}
// Warnings of damaged picture data: what libjpeg decodes past. Others (an
// unknown JFIF revision or Adobe transform, an ICC marker the decoder does
// not use) leave the picture whole.
bool IsDamageWarning(int code) {
  switch (code) {
    case JWRN_ARITH_BAD_CODE:
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_JPEG_EOF:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
      return true;
    default:
      return false;
  }
}

// Warnings (level -1) of damaged data are counted, the first one's text
// kept; other warnings and trace messages are dropped.
void JpegEmitMessage(j_common_ptr c, int level) {
  if (level >= 0 || !IsDamageWarning(c->err->msg_code)) return;
  TJpegJob* job = JobOf(c);
  if (job->warnings++ != 0) return;
  job->warning_code = c->err->msg_code;
  if (job->format_message) job->format_message(c, job->warning);
}
void JpegOutputMessage(j_common_ptr) {}
void JpegFormatMessage(j_common_ptr, char* buffer) { buffer[0] = 0; }
void JpegResetErrorMgr(j_common_ptr) {}

void JpegProgressMonitor(j_common_ptr c) {
  TJpegJob* job = JobOf(c);
  if (job->cinfo.input_scan_number > kJpegMaxScans) {
    c->err->msg_code = kJpegTooManyScans;
    c->err->error_exit(c);
  }
  const jpeg_progress_mgr& p = job->progress;
  if (job->on_progress && p.pass_limit > 0 && p.total_passes > 0) {
    const double percent =
        (double(p.pass_counter) / double(p.pass_limit) + double(p.completed_passes)) * 100.0 / p.total_passes;
    job->on_progress(job->progress_context, int(percent));
  }
}

}  // namespace

bool JpegWarningIsEndOfData(int code) { return code == JWRN_JPEG_EOF; }

void JpegInitJob(TJpegJob& job, const uint8_t* data, size_t size, int scale) {
  std::memset(static_cast<void*>(&job), 0, sizeof(job));
  jpeg_std_error(&job.err);
  job.format_message = job.err.format_message;
  job.err.error_exit = JpegErrorExit;
  job.err.emit_message = JpegEmitMessage;
  job.err.output_message = JpegOutputMessage;
  job.err.format_message = JpegFormatMessage;
  job.err.reset_error_mgr = JpegResetErrorMgr;
  job.progress.progress_monitor = JpegProgressMonitor;
  job.data = data;
  job.size = size;
  job.scale = scale;
}

bool JpegReadHeader(TJpegJob& job) {
  if (setjmp(job.jump)) return false;
  job.cinfo.err = &job.err;
  jpeg_CreateDecompress(&job.cinfo, JPEG_LIB_VERSION, sizeof(job.cinfo));
  job.cinfo.mem->max_memory_to_use = kJpegMaxMemory;
  job.cinfo.progress = &job.progress;
  jpeg_mem_src(&job.cinfo, job.data, static_cast<unsigned long>(job.size));
  jpeg_read_header(&job.cinfo, TRUE);
  job.width = int32_t(job.cinfo.image_width);
  job.height = int32_t(job.cinfo.image_height);
  job.grayscale = job.cinfo.jpeg_color_space == JCS_GRAYSCALE;
  job.cmyk = job.cinfo.jpeg_color_space == JCS_CMYK || job.cinfo.jpeg_color_space == JCS_YCCK;
  job.progressive = jpeg_has_multiple_scans(&job.cinfo);
  job.arithmetic = job.cinfo.arith_code;
  return true;
}

bool JpegStartOutput(TJpegJob& job) {
  if (setjmp(job.jump)) return false;
  job.cinfo.scale_num = 1;
  job.cinfo.scale_denom = 1u << job.scale;
  job.cinfo.do_block_smoothing = FALSE;
  switch (job.cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      job.cinfo.out_color_space = JCS_GRAYSCALE;
      job.output = joGrey;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      job.cinfo.out_color_space = JCS_CMYK;
      job.output = joBGR;
      break;
    default:  // YCbCr and RGB; libjpeg refuses what it cannot convert
      job.cinfo.out_color_space = job.four_bytes ? JCS_EXT_BGRA : JCS_EXT_BGR;
      job.output = job.four_bytes ? joBGRA : joBGR;
      break;
  }
  jpeg_calc_output_dimensions(&job.cinfo);
  job.out_width = int32_t(job.cinfo.output_width);
  job.out_height = int32_t(job.cinfo.output_height);
  return true;
}

bool JpegReadRows(TJpegJob& job, uint8_t* const* rows, uint8_t* cmyk_row) {
  if (setjmp(job.jump)) return false;
  jpeg_start_decompress(&job.cinfo);
  job.started = true;
  const bool cmyk = job.cinfo.out_color_space == JCS_CMYK;
  const bool inverted = job.cinfo.saw_Adobe_marker;
  while (job.cinfo.output_scanline < job.cinfo.output_height) {
    const JDIMENSION y = job.cinfo.output_scanline;
    if (cmyk) {
      JSAMPROW row = cmyk_row;
      if (jpeg_read_scanlines(&job.cinfo, &row, 1) == 1) CmykRowToBGR(cmyk_row, rows[y], job.out_width, inverted);
    } else {
      jpeg_read_scanlines(&job.cinfo, const_cast<JSAMPARRAY>(rows + y), job.cinfo.output_height - y);
    }
  }
  jpeg_finish_decompress(&job.cinfo);
  return true;
}

bool JpegBeginRows(TJpegJob& job) {
  if (setjmp(job.jump)) return false;
  jpeg_start_decompress(&job.cinfo);
  job.started = true;
  return true;
}

bool JpegReadRowBand(TJpegJob& job, uint8_t* const* rows, int32_t count) {
  if (setjmp(job.jump)) return false;
  const JDIMENSION first = job.cinfo.output_scanline;
  if (!job.started) {
    job.error_code = -1;
    return false;
  }
  if (first >= job.cinfo.output_height) return true;  // finished already
  const JDIMENSION end = first + JDIMENSION(count) < job.cinfo.output_height ? first + JDIMENSION(count)
                                                                             : job.cinfo.output_height;
  while (job.cinfo.output_scanline < end) {
    const JDIMENSION y = job.cinfo.output_scanline;
    jpeg_read_scanlines(&job.cinfo, const_cast<JSAMPARRAY>(rows + (y - first)), end - y);
  }
  if (job.cinfo.output_scanline >= job.cinfo.output_height) jpeg_finish_decompress(&job.cinfo);
  return true;
}

void JpegEndJob(TJpegJob& job) {
  if (job.cinfo.mem) jpeg_destroy_decompress(&job.cinfo);
}

void CmykRowToBGR(const uint8_t* cmyk, uint8_t* bgr, int32_t count, bool inverted) {
  for (int32_t i = 0; i < count; ++i, cmyk += 4, bgr += 3) {
    unsigned c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    bgr[0] = uint8_t((y * k + 127) / 255);
    bgr[1] = uint8_t((m * k + 127) / 255);
    bgr[2] = uint8_t((c * k + 127) / 255);
  }
}

}  // namespace kav
