#pragma once

#include <vector>

#include <QByteArray>

#include "platform/audio/AudioSystem.h"

namespace tessvale::testing {

// Interleaved frames of a sine on every channel, in the given format.
QByteArray sineWave(const AudioStreamFormat& format, double frequency, double amplitude, double seconds);

std::vector<double> pcm16Samples(const QByteArray& pcm16);
double rootMeanSquare(const std::vector<double>& samples, size_t skip = 0);
// Amplitude of one frequency component (a single DFT bin evaluated with the Goertzel recurrence).
double goertzelAmplitude(const std::vector<double>& samples, double sampleRate, double frequency, size_t skip = 0);
// The strongest frequency between from and to, scanned in steps of step Hz.
double dominantFrequency(
    const std::vector<double>& samples, double sampleRate, double from, double to, double step, size_t skip = 0);

} // namespace tessvale::testing
