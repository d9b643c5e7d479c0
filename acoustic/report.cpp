#include "acoustic/report.h"

#include "frame/format.h"

std::string BuildReportText(const float* values, const char* flags, int channels,
                            bool noiseCorrection, float rtuUpper, float rtuLower) {
  const int tables = channels == 2 ? 2 : 1;
  std::string text = "OCTAVE BAND ACOUSTICAL PARAMETERS\r\n\r\n";
  for (int ch = 0; ch < tables; ++ch) {
    if (tables == 2) text += ch == 0 ? "Left Channel\r\n" : "Right Channel\r\n";
    text += "Band";
    for (const char* label : kReportRowLabels) (text += '\t') += label;
    text += "\r\nParameters\r\n";
    for (int j = 0; j < kParameters; ++j) {
      text += kReportParameterLabels[j];
      for (int r = 0; r < kRows; ++r) {
        const int i = ch * kChannelValues + r * kParameters + j;
        text += '\t';
        text += flags[i] == 'y' ? FormatGeneral(values[i], 4) : std::string("--");
      }
      text += "\r\n";
    }
    text += "\r\nNoise Correction:";
    for (int r = 0; r < kRows; ++r) {
      text += '\t';
      text += !noiseCorrection ? "--" : flags[kNoiseFlagsOffset + r] == 'y' ? "yes" : "no";
    }
    text += "\r\n\r\nRTU = RT User (" + FormatGeneral(rtuUpper, 4) + " dB, " +
            FormatGeneral(rtuLower, 4) + " dB)\r\n\r\n";
  }
  return text;
}
