#include "tests/support/TestPicture.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <stdexcept>

namespace halvora::test {
namespace {

struct Rgb {
    double r, g, b;
};

Rgb Mix(const Rgb& a, const Rgb& b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// 0 outside, 1 inside, a one-pixel soft edge like a lens gives.
double Coverage(double signed_distance) {
    return std::clamp(0.5 - signed_distance, 0.0, 1.0);
}

// A triangle wave from 0 to span and back, period 2 * span.
double Bounce(double t, double span) {
    const double m = std::fmod(t, 2.0 * span);
    return m < span ? m : 2.0 * span - m;
}

std::uint8_t ToByte(double v) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

// A small hash for deterministic noise.
std::uint32_t Hash(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

}  // namespace

std::vector<std::uint8_t> MakeTestPicture(int index, int width, int height, int noise) {
    if (width <= 0 || height <= 0 || noise < 0 || noise > 10) {
        throw std::invalid_argument("MakeTestPicture: bad size or noise");
    }
    const double w = width;
    const double h = height;
    const Rgb sky_top{120, 170, 235};
    const Rgb sky_horizon{200, 215, 230};
    const Rgb ground_near{70, 110, 50};
    const Rgb ground_far{120, 140, 80};
    const Rgb wall{170, 140, 110};
    const Rgb ball{210, 40, 30};
    const Rgb box_a{240, 210, 60};
    const Rgb box_b{60, 80, 200};

    // Ball: across and back along the ground, 4 px a frame.
    const double ball_radius = h * 0.09;
    const double ball_x = ball_radius + Bounce(index * 4.0, w - 2 * ball_radius);
    const double ball_y = h * 0.72;
    // Box: diagonal drift, 2 px a frame each way.
    const double box_size = h * 0.22;
    const double box_x = Bounce(index * 2.0, w - box_size);
    const double box_y = h * 0.15 + Bounce(index * 1.5, h * 0.3);

    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    for (int y = 0; y < height; ++y) {
        // y counts from the top of the picture; memory rows run bottom-up.
        std::uint8_t* row = bgr.data() + static_cast<std::size_t>(height - 1 - y) * width * 3;
        const double fy = y / h;
        for (int x = 0; x < width; ++x) {
            const double fx = x / w;
            Rgb c = fy < 0.55 ? Mix(sky_top, sky_horizon, fy / 0.55)
                              : Mix(ground_far, ground_near, (fy - 0.55) / 0.45);
            c = Mix(c, Rgb{c.r * 0.8, c.g * 0.8, c.b * 0.8}, fx * 0.5);  // light falls off to the right
            // The wall: right of centre, middle band, with a soft brick-like texture.
            if (fx > 0.62 && fy > 0.2 && fy < 0.6) {
                const double texture = 12.0 * std::sin(x * 0.55) * std::sin(y * 0.8) + 8.0 * std::sin(x * 0.13 + y * 0.07);
                c = Rgb{wall.r + texture, wall.g + texture, wall.b + texture};
            }
            // The striped box.
            const double inside_box = std::max({box_x - x, x - (box_x + box_size), box_y - y, y - (box_y + box_size)});
            if (const double k = Coverage(inside_box); k > 0) {
                const double stripe = 0.5 + 0.5 * std::sin((x - box_x + y - box_y) * 0.45);
                c = Mix(c, Mix(box_a, box_b, stripe), k);
            }
            // The ball, lit from the top left.
            const double dx = x - ball_x;
            const double dy = y - ball_y;
            const double d = std::sqrt(dx * dx + dy * dy);
            if (const double k = Coverage(d - ball_radius); k > 0) {
                const double shade = 1.15 - 0.5 * std::clamp((dx + dy) / (2 * ball_radius) + 0.5, 0.0, 1.0);
                c = Mix(c, Rgb{ball.r * shade, ball.g * shade, ball.b * shade}, k);
            }
            // The bright band along the top edge.
            if (y < height / 16) {
                c = Mix(c, Rgb{250, 250, 250}, 0.85);
            }
            if (noise > 0) {
                const std::uint32_t n = Hash(static_cast<std::uint32_t>((index * height + y) * width + x));
                const double offset = static_cast<double>(n % (2 * noise + 1)) - noise;
                c = Rgb{c.r + offset, c.g + offset, c.b + offset};
            }
            row[x * 3 + 0] = ToByte(c.b);
            row[x * 3 + 1] = ToByte(c.g);
            row[x * 3 + 2] = ToByte(c.r);
        }
    }
    return bgr;
}

std::vector<std::uint8_t> LumaOfBottomUpBgr(const std::uint8_t* bgr, int width, int height) {
    std::vector<std::uint8_t> y_plane(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = bgr + static_cast<std::size_t>(height - 1 - y) * width * 3;
        for (int x = 0; x < width; ++x) {
            const double b = row[x * 3 + 0];
            const double g = row[x * 3 + 1];
            const double r = row[x * 3 + 2];
            y_plane[static_cast<std::size_t>(y) * width + x] =
                ToByte(16.0 + (65.481 * r + 128.553 * g + 24.966 * b) / 255.0);
        }
    }
    return y_plane;
}

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) {
        throw std::invalid_argument("Psnr: planes differ in size");
    }
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        sum += d * d;
    }
    if (sum == 0) {
        return 99.0;
    }
    const double mse = sum / static_cast<double>(a.size());
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace halvora::test
