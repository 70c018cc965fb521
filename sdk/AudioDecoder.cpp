#include "sdk/AudioDecoder.h"

#include <cstring>
#include <new>

#include "platform/quellaud/quellaud.h"
#include "platform/debug/debug_output.h"
#include "platform/wire/byte_reader.h"

CAudioDecoder::CAudioDecoder() = default;

CAudioDecoder::~CAudioDecoder() { ClearBuf(); }

bool CAudioDecoder::IsSonpak() const {
  return std::memcmp(m_CodecId, SONPAK_CODEC_ID, sizeof m_CodecId) == 0;
}

void CAudioDecoder::ClearBuf() {
  if (IsSonpak())
    ADPCM_ClearBuf();
  else
    quellaud::Ex_ClearBuf(&m_DecParam);
}

int CAudioDecoder::Initialize(const uint8_t* format, int length) {
  ClearBuf();  // by the previous identifier: that stream's codec state ends here
  m_nCapacity = 0;
  if (format && length >= AUDIO_FORMAT_MIN_SIZE) {
    std::memcpy(m_CodecId, format, sizeof m_CodecId);
    uint32_t rate = get_le16(format + 16);
    if (rate == 11020) rate = 11025;
    // 64 bits: two u16 values and a factor of 2 overflow an int long before the cap.
    const uint64_t capacity = uint64_t(rate) * get_le16(format + 20) * 2;
    AUDIO_DEC_INIT_PARAM init = {16, 0, 2};
    int ok = 0;
    if (capacity <= uint64_t(AUDIO_DEC_MAX_CAPACITY))
      ok = IsSonpak() ? ADPCM_Initialize(&init) : quellaud::Ex_Initialize(&init);
    if (ok && int(capacity) > m_nOutputSize) {
      m_pOutput.reset(new (std::nothrow) int16_t[(capacity + 1) / 2]);
      m_nOutputSize = m_pOutput ? int(capacity) : 0;
      m_DecParam.output = m_pOutput.get();
      ok = m_pOutput != nullptr;
    }
    if (ok) {
      m_nCapacity = int(capacity);
      m_dwFlags = 0;
      ClearBuf();
      return 1;
    }
  }
  ClearBuf();
  // Called on a session's control thread: a box there would hold the session until clicked.
  debug_output("[SDK TRACE]-Audio Decoder initialization failure\n");
  return 0;
}

int CAudioDecoder::Decode(const uint8_t* input, int input_length, uint8_t* dest, int* out_length) {
  if (m_nCapacity <= 0 || !input || input_length <= 0 || !dest || !out_length) return 0;
  m_DecParam.input = const_cast<uint8_t*>(input);  // the codecs only read it
  m_DecParam.input_length = input_length;
  m_DecParam.output_length = m_nCapacity;
  const int r =
      IsSonpak() ? ADPCM_Decode(&m_DecParam, nullptr) : quellaud::Ex_Decode(&m_DecParam, nullptr);
  m_DecParam.input = nullptr;
  const int produced = m_DecParam.output_length;
  if (!r || produced <= 0 || produced > m_nCapacity || !m_DecParam.output) return 0;
  if (produced > *out_length) return -1;
  std::memcpy(dest, m_DecParam.output, size_t(produced));
  *out_length = produced;
  return 1;
}
