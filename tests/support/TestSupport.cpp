#include "TestRecords.h"

#include <cstdio>
#include <random>

std::uint32_t ReferenceCrc32(const Bytes& data)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t byte : data) {
        crc ^= byte;
        for (int i = 0; i < 8; ++i)
            crc = (crc >> 1) ^ ((crc & 1u) ? 0xEDB88320u : 0u);
    }
    return ~crc;
}

std::string Hex8(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes RandomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    Bytes bytes(count);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(generator());
    return bytes;
}

WriterRecord Record(std::string name, Bytes content, std::uint32_t attributes, std::uint32_t dateTime)
{
    WriterRecord record;
    record.storedName = std::move(name);
    record.content = std::move(content);
    record.attributes = attributes;
    record.dateTime = dateTime;
    return record;
}
