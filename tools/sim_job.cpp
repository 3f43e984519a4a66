#include "sim_job.h"

#include "record_decoder.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace kvr::tools {
namespace {

const double kPi = 3.14159265358979323846;

std::string Fixed(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
    return buffer;
}

// Degrees as DDDMMSS, the way the instrument writes angles.
std::string Dms(double degrees) {
    long seconds = std::lround(degrees * 3600.0) % (360L * 3600L);
    if (seconds < 0) seconds += 360L * 3600L;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%03ld%02ld%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return buffer;
}

// A fixed pseudo-random sequence, so the sample job is the same every run.
struct Lcg {
    std::uint32_t state = 20261211u;
    double next() {
        state = state * 1664525u + 1013904223u;
        return double(state >> 8) / double(1u << 24);
    }
};

}  // namespace

std::vector<SimRecord> SampleJob() {
    const double east0 = 500123.456, north0 = 3000456.789, height0 = 125.430;
    const double instrumentHeight = 1.562, targetHeight = 1.500;
    const double backsightAzimuth = 45.0 + 30.0 / 60 + 15.0 / 3600;
    const char* codes[] = {"TREE", "WALL", "KERB", "MH", "FENCE", "BLDG", "LAMP", "DRAIN"};

    std::vector<SimRecord> job;
    job.push_back({RecordJob, {"SITE7"}});
    job.push_back({RecordStation, {"ST01", "CTRL", Fixed(instrumentHeight), Fixed(east0), Fixed(north0), Fixed(height0)}});
    job.push_back({RecordBacksight, {"ST01", "BS01", Dms(backsightAzimuth)}});

    Lcg random;
    for (int i = 1; i <= 36; ++i) {
        double horizontal = random.next() * 360.0;
        double zenith = 86.0 + random.next() * 8.0;
        double slope = 8.0 + random.next() * 180.0;
        double level = slope * std::sin(zenith * kPi / 180.0);
        double rise = slope * std::cos(zenith * kPi / 180.0);
        double azimuth = (backsightAzimuth + horizontal) * kPi / 180.0;
        double east = east0 + level * std::sin(azimuth);
        double north = north0 + level * std::cos(azimuth);
        double height = height0 + instrumentHeight + rise - targetHeight;
        char point[8];
        std::snprintf(point, sizeof point, "P%03d", i);
        job.push_back({RecordMeasuredPoint,
                       {point, codes[i % 8], Dms(horizontal), Dms(zenith), Fixed(slope), Fixed(level), Fixed(rise),
                        Fixed(targetHeight), Fixed(-0.030), Fixed(east), Fixed(north), Fixed(height)}});
    }
    return job;
}

bool ReadRecordFile(const std::string& path, std::vector<SimRecord>& records, std::string& error) {
    static const std::map<std::string, int> types = {
        {"JOB", RecordJob}, {"STN", RecordStation}, {"BK", RecordBacksight}, {"MP", RecordMeasuredPoint}};
    std::ifstream file(path);
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        std::size_t comment = line.find('#');
        if (comment != std::string::npos) line.erase(comment);
        std::istringstream words(line);
        std::string type;
        if (!(words >> type)) continue;
        auto known = types.find(type);
        if (known == types.end()) {
            error = path + ":" + std::to_string(number) + ": unknown record type " + type;
            return false;
        }
        SimRecord record{known->second, {}};
        for (std::string field; words >> field;) record.fields.push_back(field == "-" ? "" : field);
        records.push_back(record);
    }
    return true;
}

bool BuildFrame(Dialect dialect, const SimRecord& record, int index, int count, std::vector<std::uint8_t>& frame,
                std::string& error) {
    std::vector<FieldColumns> layout = recordLayout(dialect, record.type);
    if (layout.empty() || layout.size() != record.fields.size()) {
        error = "record " + std::to_string(index + 1) + ": expected " + std::to_string(layout.size()) + " fields, got " +
                std::to_string(record.fields.size());
        return false;
    }
    frame.assign(kHeaderLength + bodyLength(dialect, record.type), ' ');
    char counters[16];
    std::snprintf(counters, sizeof counters, "%04d%04d", count % 10000, (index + 1) % 10000);
    frame[0] = 0x02;
    for (int i = 0; i < 8; ++i) frame[1 + i] = std::uint8_t(counters[i]);
    frame[9] = std::uint8_t(record.type);
    frame.back() = 0x03;
    for (std::size_t i = 0; i < layout.size(); ++i) {
        const std::string& text = record.fields[i];
        std::size_t width = layout[i].last - layout[i].first + 1;
        if (text.size() > width) {
            error = "record " + std::to_string(index + 1) + ": field " + text + " is wider than " + std::to_string(width);
            return false;
        }
        std::size_t start = layout[i].kind == FieldKind::Characters ? layout[i].first : layout[i].last + 1 - text.size();
        for (std::size_t k = 0; k < text.size(); ++k) frame[start + k] = std::uint8_t(text[k]);
    }
    return true;
}

}  // namespace kvr::tools
