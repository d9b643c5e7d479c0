// tovrel report: the page shows what the acoustic module reported, escaped; the CSV gives
// the same numbers back; bad input writes nothing; the page renders in a real browser.
#include <cairo.h>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/testing.h"

namespace fs = std::filesystem;

namespace {

// A room-like response: a direct sound, then noise decaying by 60 dB in `rt` seconds.
void WriteResponse(const std::string& path, int channels, double rt, long rate = 48000) {
  const long frames = rate;
  std::vector<short> s(static_cast<std::size_t>(frames * channels), 0);
  uint32_t seed = 12345;
  for (long n = 200; n < frames; ++n)
    for (int c = 0; c < channels; ++c) {
      seed = seed * 1664525u + 1013904223u;
      const double noise = (static_cast<double>(seed >> 8) / (1 << 24)) * 2 - 1;
      const double t = static_cast<double>(n - 200) / rate;
      s[static_cast<std::size_t>(n * channels + c)] =
          static_cast<short>(std::lround(12000 * noise * std::pow(10.0, -3.0 * t / (rt * (1 + 0.3 * c)))));
    }
  for (int c = 0; c < channels; ++c) s[static_cast<std::size_t>(200 * channels + c)] = 30000;
  SF_INFO info{};
  info.samplerate = static_cast<int>(rate);
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  sf_writef_short(f, s.data(), frames);
  sf_close(f);
}

// A word for sh, whatever it holds.
std::string Quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> out;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, separator)) out.push_back(field);
  if (!line.empty() && line.back() == separator) out.emplace_back();
  return out;
}

class Report : public tovrel::cli::testing::CommandTest {
 protected:
  // The module's own report of a response (its clipboard text): per table (channel), per
  // parameter label, the 11 cells as shown ("--" when not valid).
  std::vector<std::map<std::string, std::vector<std::string>>> ModuleReport(const std::string& response) {
    const std::string text = dir_ + "/module-report.txt";
    std::string err;
    EXPECT_EQ(Run("run \"Acoustical Parameters\" " + Quoted(response) + " --save-clip " + Quoted(text), nullptr, &err),
              0)
        << err;
    std::vector<std::map<std::string, std::vector<std::string>>> tables;
    std::istringstream in(Slurp(text));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      auto cells = Split(line, '\t');
      if (cells.size() != 12) continue;
      if (cells[0] == "Band") tables.emplace_back();
      if (tables.empty() || cells[0] == "Band" || cells[0] == "Noise Correction:") continue;
      tables.back()[cells[0]] = std::vector<std::string>(cells.begin() + 1, cells.end());
    }
    return tables;
  }
};

TEST_F(Report, ShowsResponsesSideBySideAndTheCsvGivesBackTheModulesValues) {
  const std::string mono = dir_ + "/hall.wav", stereo = dir_ + "/stage.wav";
  WriteResponse(mono, 1, 0.5, 22050);
  WriteResponse(stereo, 2, 0.8);
  const std::string html = dir_ + "/report.html", csv = dir_ + "/params.csv", curves = dir_ + "/curves.csv";
  std::string out, err;
  ASSERT_EQ(Run("report " + Quoted(mono) + " " + Quoted(stereo) + " -o " + Quoted(html) + " --csv " + Quoted(csv) +
                    " --csv-curves " + Quoted(curves),
                &out, &err),
            0)
      << err;
  const std::string page = Slurp(html);
  const auto first = page.find("<h2>" + mono + "</h2>"), second = page.find("<h2>" + stereo + "</h2>");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(first, second);
  EXPECT_NE(page.find("OCTAVE BAND ACOUSTICAL PARAMETERS - Right Channel", second), std::string::npos);
  EXPECT_NE(page.find("<dt>Sample rate</dt><dd>22050 Hz</dd>"), std::string::npos);
  EXPECT_EQ(page.find("<link"), std::string::npos);  // nothing outside the page
  EXPECT_EQ(page.find("src="), std::string::npos);
  EXPECT_EQ(page.find("<?xml"), std::string::npos);
  std::size_t plots = 0;
  for (auto at = page.find("<svg xmlns"); at != std::string::npos; at = page.find("<svg xmlns", at + 1)) ++plots;
  EXPECT_EQ(plots, 2u);

  // CSV rows: 11 bands of the mono response, 2 x 11 of the stereo one.
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(Slurp(csv));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    rows.push_back(Split(line, ','));
  }
  ASSERT_EQ(rows.size(), 1u + 11 + 22);
  const std::vector<std::string>& header = rows[0];
  ASSERT_EQ(header.size(), 5u + 2 * 11);

  // Every cell of the module's report: the same number in the CSV and in the page.
  const char* labels[] = {"C50 [dB]", "C80 [dB]", "D50 [%]", "TS [ms]", "EDT [s]", "RT20 [s]",
                          "r RT20",   "RT30 [s]", "r RT30",  "RTU [s]", "r RTU"};
  std::size_t row = 1, valid = 0, invalid = 0;
  for (const std::string& response : {mono, stereo}) {
    const auto tables = ModuleReport(response);
    ASSERT_EQ(tables.size(), response == mono ? 1u : 2u);
    for (const auto& table : tables) {
      for (int band = 0; band < 11; ++band, ++row) {
        ASSERT_EQ(rows[row][0], response);
        for (int j = 0; j < 11; ++j) {
          const std::string& shown = table.at(labels[j])[static_cast<std::size_t>(band)];
          const std::string& value = rows[row][5 + 2 * j];
          const std::string& flag = rows[row][6 + 2 * j];
          if (shown == "--") {
            EXPECT_EQ(value, "");
            EXPECT_EQ(flag, "n");
            ++invalid;
          } else {
            EXPECT_EQ(flag, "y");
            EXPECT_EQ(std::strtof(value.c_str(), nullptr), std::strtof(shown.c_str(), nullptr)) << labels[j];
            EXPECT_NE(page.find(">" + shown + "</td>"), std::string::npos) << shown;
            ++valid;
          }
        }
      }
    }
  }
  EXPECT_GT(valid, 100u);
  EXPECT_GT(invalid, 10u);  // the 16 kHz band at 22050 Hz, at least
  EXPECT_NE(page.find("<td class=\"invalid\""), std::string::npos);

  // The curves: the mono waveform is the response's samples; the line fitted over RT20 of
  // the wide band falls 60 dB in the RT20 of the table.
  std::istringstream points(Slurp(curves));
  std::string line;
  std::getline(points, line);
  EXPECT_EQ(line, "response,channel,curve,band,x,y\r");
  long waveform = 0;
  std::vector<std::vector<std::string>> rt20;
  while (std::getline(points, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto f = Split(line, ',');
    ASSERT_EQ(f.size(), 6u) << line;
    if (f[0] != mono) continue;
    if (f[2] == "waveform") {
      if (waveform == 200) {
        EXPECT_EQ(std::strtod(f[5].c_str(), nullptr), 30000.0 / 32768) << line;
      }
      EXPECT_NEAR(std::strtod(f[4].c_str(), nullptr), waveform / 22050.0, 1e-9) << line;
      ++waveform;
    }
    if (f[2] == "RT20" && f[3] == "Lin") rt20.push_back(f);
  }
  EXPECT_EQ(waveform, 22050);
  ASSERT_EQ(rt20.size(), 2u);
  const double slope = (std::strtod(rt20[1][5].c_str(), nullptr) - std::strtod(rt20[0][5].c_str(), nullptr)) /
                       (std::strtod(rt20[1][4].c_str(), nullptr) - std::strtod(rt20[0][4].c_str(), nullptr));
  EXPECT_NEAR(-60 / slope, std::strtod(rows[1][5 + 2 * 5].c_str(), nullptr), 1e-3);
}

TEST_F(Report, EscapesHostileNamesInThePageAndTheCsv) {
  const std::string name = dir_ + "/<img src=x onerror=alert(1)>&\"a,b'.wav";
  WriteResponse(name, 1, 0.4);
  const std::string html = dir_ + "/report.html", csv = dir_ + "/params.csv";
  std::string err;
  ASSERT_EQ(Run("report " + Quoted(name) + " -o " + Quoted(html) + " --csv " + Quoted(csv), nullptr, &err), 0) << err;
  const std::string page = Slurp(html);
  EXPECT_EQ(page.find("<img"), std::string::npos);
  EXPECT_NE(page.find("&lt;img src=x onerror=alert(1)&gt;&amp;&quot;a,b&#39;.wav"), std::string::npos);
  // The name is one quoted CSV field, its quote doubled.
  const std::string table = Slurp(csv);
  EXPECT_NE(table.find("\r\n\"" + dir_ + "/<img src=x onerror=alert(1)>&\"\"a,b'.wav\",mono,Lin,"), std::string::npos);
}

TEST_F(Report, BadInputIsRefusedAndWritesNothing) {
  const std::string good = dir_ + "/good.wav", silent = dir_ + "/silent.wav", html = dir_ + "/report.html";
  WriteResponse(good, 1, 0.4);
  {
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(silent.c_str(), SFM_WRITE, &info);
    std::vector<short> zeros(48000, 0);
    sf_writef_short(f, zeros.data(), 48000);
    sf_close(f);
  }
  std::ofstream(html) << "kept";
  std::string err;
  EXPECT_EQ(Run("report " + Quoted(good) + " " + Quoted(dir_ + "/missing.wav") + " -o " + Quoted(html), nullptr, &err), 3);
  EXPECT_NE(err.find("missing.wav"), std::string::npos) << err;
  EXPECT_EQ(Run("report " + Quoted(good) + " " + Quoted(silent) + " -o " + Quoted(html), nullptr, &err), 1);
  EXPECT_NE(err.find("silent.wav"), std::string::npos) << err;
  EXPECT_EQ(Slurp(html), "kept");

  EXPECT_EQ(Run("report " + Quoted(good), nullptr, &err), 2);
  EXPECT_NE(err.find("-o"), std::string::npos) << err;
  EXPECT_EQ(Run("report " + Quoted(good) + " -o " + Quoted(good)), 2);
  EXPECT_EQ(Run("report " + Quoted(good) + " -o " + Quoted(html) + " --csv " + Quoted(html)), 2);
  EXPECT_EQ(Run("report " + Quoted(good) + " -o " + Quoted(dir_ + "/no/such/folder/r.html"), nullptr, &err), 3);
  EXPECT_EQ(Run("report " + Quoted(good) + " -o " + Quoted(html) + " --csv " + Quoted(dir_)), 3);
  EXPECT_EQ(Slurp(html), "kept");
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_EQ(entry.path().filename().string().find(".tovrel-"), std::string::npos) << entry.path();
}

// The page in headless Chromium: a screenshot that is not blank, and the values in its text.
TEST_F(Report, RendersInHeadlessChromium) {
  if (std::system("command -v chromium >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "chromium is not installed here (scripts/install-deps.sh installs it): the page is not rendered";
  const std::string response = dir_ + "/hall.wav", html = dir_ + "/report.html";
  WriteResponse(response, 2, 0.6);
  std::string err;
  ASSERT_EQ(Run("report " + Quoted(response) + " -o " + Quoted(html), nullptr, &err), 0) << err;
  const std::string png = dir_ + "/page.png", dom = dir_ + "/dom.html";
  const std::string chromium = "timeout 120 chromium --headless --no-sandbox --disable-gpu --hide-scrollbars "
                               "--user-data-dir=" + Quoted(dir_ + "/chromium") + " --window-size=1400,1800 ";
  ASSERT_EQ(std::system((chromium + "--screenshot=" + Quoted(png) + " " + Quoted("file://" + html) +
                         " >/dev/null 2>&1").c_str()), 0);
  ASSERT_EQ(std::system((chromium + "--dump-dom " + Quoted("file://" + html) + " >" + Quoted(dom) + " 2>/dev/null")
                            .c_str()), 0);

  cairo_surface_t* image = cairo_image_surface_create_from_png(png.c_str());
  ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
  const int width = cairo_image_surface_get_width(image), height = cairo_image_surface_get_height(image);
  const int stride = cairo_image_surface_get_stride(image);
  const unsigned char* data = cairo_image_surface_get_data(image);
  double sum = 0, squares = 0;
  long dark = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint32_t p;
      std::memcpy(&p, data + y * stride + 4 * x, 4);
      const double grey = (((p >> 16) & 255) + ((p >> 8) & 255) + (p & 255)) / 3.0;
      sum += grey;
      squares += grey * grey;
      dark += grey < 128;
    }
  cairo_surface_destroy(image);
  const double n = static_cast<double>(width) * height, mean = sum / n;
  EXPECT_EQ(width, 1400);
  EXPECT_GT(squares / n - mean * mean, 100.0) << "the screenshot is blank";
  EXPECT_GT(dark, static_cast<long>(n / 200)) << "hardly any text on the screenshot";

  // The browser's text of the page holds every value the module reported.
  const std::string text = Slurp(dom);
  EXPECT_NE(text.find("OCTAVE BAND ACOUSTICAL PARAMETERS - Left Channel"), std::string::npos);
  std::size_t values = 0;
  for (const auto& table : ModuleReport(response))
    for (const auto& [label, cells] : table)
      for (const std::string& cell : cells)
        if (cell != "--") {
          EXPECT_NE(text.find(">" + cell + "</td>"), std::string::npos) << label << " " << cell;
          ++values;
        }
  EXPECT_GT(values, 100u);
}

}  // namespace
