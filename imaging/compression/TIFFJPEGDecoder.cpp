// JPEG-compressed TIFF strips (TIFF compression 7, TIFF Technical Note 2) through libjpeg.
//
// A TIFF JPEG image may keep its quantisation and Huffman tables in one shared tables-only
// stream (tag 347 JPEGTables, the abbreviated format of ITU-T T.81 annex B.5); each strip is then
// an abbreviated image stream decoded against those tables. libjpeg's fatal errors come back here
// through longjmp and leave as EGraphicCompression; its warnings go to the framework's warning
// channel.

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "imaging/Graphicstrings.h"
#include "imaging/Warnings.h"
#include "imaging/compression/TIFFJPEGDecoder.h"

#ifndef JCS_EXTENSIONS
#error "libjpeg-turbo's colour space extensions (JCS_EXT_BGR) are required"
#endif

namespace muralo {

struct TTIFFJPEGDecoder::TJPEGState {
  struct TErrorManager {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
  };
  struct TSourceManager {
    jpeg_source_mgr Pub;
    const uint8_t* Data;
    size_t Size;
  };

  jpeg_decompress_struct Info;
  TErrorManager Error;
  TSourceManager Source;
  bool Created = false;
};

namespace {

using TJPEGState = TTIFFJPEGDecoder::TJPEGState;

TJPEGState& StateOf(j_common_ptr info) {
  // Error is the second member of the state; libjpeg hands back the address given to it.
  return *reinterpret_cast<TJPEGState*>(reinterpret_cast<char*>(info->err) - offsetof(TJPEGState, Error));
}

void ErrorExit(j_common_ptr info) {
  TJPEGState& state = StateOf(info);
  (*info->err->format_message)(info, state.Error.Message);
  std::longjmp(state.Error.Jump, 1);
}

void OutputMessage(j_common_ptr info) {
  char text[JMSG_LENGTH_MAX];
  (*info->err->format_message)(info, text);
  RaiseWarning(gesWarning, text);
}

const JOCTET EndOfImage[2] = {0xFF, JPEG_EOI};

void SupplyEndOfImage(j_decompress_ptr info) {
  RaiseWarning(gesWarning, gesJPEGEOI);
  info->src->next_input_byte = EndOfImage;
  info->src->bytes_in_buffer = sizeof EndOfImage;
}

void InitSource(j_decompress_ptr info) {
  auto* source = reinterpret_cast<TJPEGState::TSourceManager*>(info->src);
  source->Pub.next_input_byte = source->Data;
  source->Pub.bytes_in_buffer = source->Size;
}

boolean FillInputBuffer(j_decompress_ptr info) {
  // The whole block was presented at once; asking for more means the data ended early.
  SupplyEndOfImage(info);
  return TRUE;
}

void SkipInputData(j_decompress_ptr info, long count) {
  if (count <= 0) return;
  if (static_cast<unsigned long>(count) > info->src->bytes_in_buffer) {
    SupplyEndOfImage(info);
    return;
  }
  info->src->next_input_byte += count;
  info->src->bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

void Present(TJPEGState& state, const uint8_t* data, size_t size) {
  state.Source.Data = data;
  state.Source.Size = size;
  state.Source.Pub.next_input_byte = nullptr;
  state.Source.Pub.bytes_in_buffer = 0;
}

// Runs one libjpeg call; a fatal library error comes back as EGraphicCompression. The callable
// holds no objects with destructors, so the longjmp skips nothing.
template <typename F>
void Guarded(TJPEGState& state, F&& call) {
  if (setjmp(state.Error.Jump) != 0) throw EGraphicCompression(state.Error.Message);
  call();
}

}  // namespace

TTIFFJPEGDecoder::TTIFFJPEGDecoder(PImageProperties AProperties) : ImageProperties(AProperties) {
  if (ImageProperties != nullptr && !ImageProperties->JPEGTables.empty()) {
    TablesData = ImageProperties->JPEGTables.data();
    TablesSize = ImageProperties->JPEGTables.size();
  }
}

TTIFFJPEGDecoder::~TTIFFJPEGDecoder() {
  if (State != nullptr) {
    if (State->Created) jpeg_destroy_decompress(&State->Info);
    delete State;
  }
}

void TTIFFJPEGDecoder::DecodeInit() {
  DecodeEnd();
  State = new TJPEGState{};
  TJPEGState& state = *State;
  state.Info.err = jpeg_std_error(&state.Error.Pub);
  state.Error.Pub.error_exit = ErrorExit;
  state.Error.Pub.output_message = OutputMessage;
  Guarded(state, [&] { jpeg_create_decompress(&state.Info); });
  state.Created = true;

  HSubSampling = VSubSampling = 1;
  if (ImageProperties != nullptr && !ImageProperties->YCbCrSubSampling.empty()) {
    HSubSampling = ImageProperties->YCbCrSubSampling[0];
    VSubSampling = ImageProperties->YCbCrSubSampling.size() > 1 ? ImageProperties->YCbCrSubSampling[1] : 1;
  }

  state.Source.Pub.init_source = InitSource;
  state.Source.Pub.fill_input_buffer = FillInputBuffer;
  state.Source.Pub.skip_input_data = SkipInputData;
  state.Source.Pub.resync_to_restart = jpeg_resync_to_restart;
  state.Source.Pub.term_source = TermSource;
  state.Info.src = &state.Source.Pub;

  if (TablesData != nullptr) {
    Present(state, TablesData, TablesSize);
    int result = 0;
    Guarded(state, [&] { result = jpeg_read_header(&state.Info, FALSE); });
    if (result != JPEG_HEADER_TABLES_ONLY) CompressionError(gesJPEGBogusTableField);
  }
  Present(state, nullptr, 0);
}

void TTIFFJPEGDecoder::Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) {
  if (ImageProperties == nullptr) CompressionError(gesJPEGStripSize);
  if (State == nullptr) DecodeInit();
  TJPEGState& state = *State;
  jpeg_decompress_struct& info = state.Info;
  const TImageProperties& props = *ImageProperties;

  Guarded(state, [&] { jpeg_abort_decompress(&info); });
  Present(state, Source, PackedSize);
  Guarded(state, [&] { jpeg_read_header(&info, TRUE); });

  // The strip's geometry as the directory describes it.
  const uint32_t rowsLeft = props.Height > props.CurrentRow ? props.Height - props.CurrentRow : 0;
  const uint32_t stripRows = props.RowsPerStrip.empty() ? rowsLeft : std::min(rowsLeft, props.RowsPerStrip[0]);
  BytesPerLine = props.BytesPerLine;
  if (info.image_width != props.Width || info.image_height != stripRows) CompressionError(gesJPEGStripSize);
  const int components = props.PlanarConfig == 1 ? props.SamplesPerPixel : 1;
  if (info.num_components != components) CompressionError(gesJPEGComponentCount);
  if (info.data_precision != props.BitsPerSample) CompressionError(gesJPEGDataPrecision);
  for (int i = 0; i < info.num_components; ++i) {
    const jpeg_component_info& c = info.comp_info[i];
    const bool chroma = props.PlanarConfig == 1 && i == 0;
    const int h = chroma ? HSubSampling : 1;
    const int v = chroma ? VSubSampling : 1;
    if (c.h_samp_factor != h || c.v_samp_factor != v) CompressionError(gesJPEGSamplingFactors);
  }

  // Three-sample pixels come out in blue, green, red order; YCbCr is converted, any other layout
  // is delivered as stored (three samples only reordered, without a colour transform).
  if (props.ColorScheme == csYCbCr) {
    info.jpeg_color_space = JCS_YCbCr;
    info.out_color_space = JCS_EXT_BGR;
  } else if (info.num_components == 3) {
    info.jpeg_color_space = JCS_RGB;
    info.out_color_space = JCS_EXT_BGR;
  } else {
    info.jpeg_color_space = JCS_UNKNOWN;
    info.out_color_space = JCS_UNKNOWN;
  }
  info.dct_method = JDCT_ISLOW;
  Guarded(state, [&] { jpeg_start_decompress(&info); });

  const size_t rowSize = BytesPerLine;
  const size_t wanted = UnpackedSize;
  if (rowSize == 0 || wanted % rowSize != 0) {
    Guarded(state, [&] { jpeg_abort_decompress(&info); });
    CompressionError(gesJPEGFractionalLine);
  }
  // A scanline that is wider than the row size is decoded aside and cut to it.
  const size_t scanline = static_cast<size_t>(info.output_width) * static_cast<size_t>(info.output_components);
  std::vector<uint8_t> wide(scanline > rowSize ? scanline : 0);
  try {
    uint8_t* row = Dest;
    for (size_t line = 0; line < wanted / rowSize && info.output_scanline < info.output_height; ++line) {
      JSAMPROW target = wide.empty() ? row : wide.data();
      JDIMENSION got = 0;
      Guarded(state, [&] { got = jpeg_read_scanlines(&info, &target, 1); });
      if (got == 0) break;
      if (!wide.empty()) std::memcpy(row, wide.data(), rowSize);
      row += rowSize;
    }
    if (info.output_scanline >= info.output_height)
      Guarded(state, [&] { jpeg_finish_decompress(&info); });
    else
      Guarded(state, [&] { jpeg_abort_decompress(&info); });
  } catch (...) {
    jpeg_abort_decompress(&info);
    throw;
  }
}

void TTIFFJPEGDecoder::DecodeEnd() {
  if (State == nullptr) return;
  if (State->Created) jpeg_destroy_decompress(&State->Info);
  delete State;
  State = nullptr;
}

}  // namespace muralo
