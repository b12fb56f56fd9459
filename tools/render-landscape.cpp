// Renders the saver's procedural landscape pictures: 640 x 480 colour scenes
// painted from noise (skies, clouds, mountain ranges, water, dunes, fields,
// trees, stars). Written for tools/make-pictures, which turns the output into
// the picture resources; not part of the normal build.
//
// Usage: render-landscape SCENE > picture.ppm
// Each scene is fixed by its name and its own seed, so the output is the same
// on every run and every machine that uses IEEE float arithmetic.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int WIDTH = 640;
constexpr int HEIGHT = 480;
constexpr int SUPERSAMPLE = 3;  // per axis: smooth silhouettes without a separate filter
constexpr int SW = WIDTH * SUPERSAMPLE;
constexpr int SH = HEIGHT * SUPERSAMPLE;

struct Rgb {
    float r, g, b;
};

Rgb operator+(Rgb a, Rgb b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }
Rgb operator*(Rgb a, float k) { return {a.r * k, a.g * k, a.b * k}; }
Rgb operator*(Rgb a, Rgb b) { return {a.r * b.r, a.g * b.g, a.b * b.b}; }

Rgb Hex(uint32_t rgb) {
    return {((rgb >> 16) & 0xFF) / 255.0f, ((rgb >> 8) & 0xFF) / 255.0f, (rgb & 0xFF) / 255.0f};
}

float Clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }
float Mix(float a, float b, float t) { return a + (b - a) * t; }
Rgb Mix(Rgb a, Rgb b, float t) { return {Mix(a.r, b.r, t), Mix(a.g, b.g, t), Mix(a.b, b.b, t)}; }

float SmoothStep(float e0, float e1, float x) {
    float t = Clamp01((x - e0) / (e1 - e0));
    return t * t * (3.0f - 2.0f * t);
}

// Picture in supersampled coordinates; everything paints into it back to front.
struct Canvas {
    std::vector<Rgb> px;
};

Canvas g_canvas;
uint32_t g_seed;

Rgb& At(int x, int y) { return g_canvas.px[static_cast<size_t>(y) * SW + x]; }

// Coordinates handed to the scene painters are in output pixels (0..640, 0..480),
// so scene constants do not depend on the supersampling factor.
float PixelX(int sx) { return (sx + 0.5f) / SUPERSAMPLE; }
float PixelY(int sy) { return (sy + 0.5f) / SUPERSAMPLE; }

// ---- Noise -----------------------------------------------------------------

uint32_t Hash(int32_t x, int32_t y, uint32_t salt) {
    uint32_t h = static_cast<uint32_t>(x) * 0x8DA6B343u ^ static_cast<uint32_t>(y) * 0xD8163841u ^
                 (salt + g_seed) * 0xCB1AB31Fu;
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    h ^= h >> 15;
    return h;
}

float HashUnit(int32_t x, int32_t y, uint32_t salt) {
    return (Hash(x, y, salt) & 0xFFFFFF) / 16777216.0f;
}

// Gradient noise, roughly -1..1.
float Noise(float x, float y, uint32_t salt = 0) {
    float fx = std::floor(x), fy = std::floor(y);
    int32_t ix = static_cast<int32_t>(fx), iy = static_cast<int32_t>(fy);
    float dx = x - fx, dy = y - fy;
    auto corner = [&](int32_t cx, int32_t cy, float ox, float oy) {
        float a = HashUnit(ix + cx, iy + cy, salt) * 6.2831853f;
        return std::cos(a) * ox + std::sin(a) * oy;
    };
    float u = dx * dx * dx * (dx * (dx * 6.0f - 15.0f) + 10.0f);
    float v = dy * dy * dy * (dy * (dy * 6.0f - 15.0f) + 10.0f);
    float n00 = corner(0, 0, dx, dy), n10 = corner(1, 0, dx - 1.0f, dy);
    float n01 = corner(0, 1, dx, dy - 1.0f), n11 = corner(1, 1, dx - 1.0f, dy - 1.0f);
    return 1.41421356f * Mix(Mix(n00, n10, u), Mix(n01, n11, u), v);
}

float Fbm(float x, float y, int octaves, uint32_t salt = 0, float gain = 0.5f) {
    float sum = 0.0f, amp = 1.0f, norm = 0.0f;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * Noise(x, y, salt + i * 101u);
        norm += amp;
        amp *= gain;
        x = x * 2.03f + 17.1f;
        y = y * 2.03f - 9.7f;
    }
    return sum / norm;
}

// Sharp crests, 0..1: mountain ridges.
float Ridged(float x, float y, int octaves, uint32_t salt = 0) {
    float sum = 0.0f, amp = 0.5f, weight = 1.0f, norm = 0.0f;
    for (int i = 0; i < octaves; ++i) {
        float n = 1.0f - std::fabs(Noise(x, y, salt + i * 131u));
        n *= n;
        n *= weight;
        weight = Clamp01(n * 1.6f);
        sum += n * amp;
        norm += amp;
        amp *= 0.5f;
        x = x * 2.07f + 5.3f;
        y = y * 2.07f + 11.9f;
    }
    return sum / norm;
}

// ---- Sky -------------------------------------------------------------------

struct GradientStop {
    float at;  // 0 = top of the picture, 1 = bottom
    Rgb colour;
};

Rgb Gradient(const GradientStop* stops, int count, float t) {
    if (t <= stops[0].at) return stops[0].colour;
    for (int i = 1; i < count; ++i)
        if (t <= stops[i].at)
            return Mix(
                stops[i - 1].colour, stops[i].colour,
                SmoothStep(0.0f, 1.0f, (t - stops[i - 1].at) / (stops[i].at - stops[i - 1].at)));
    return stops[count - 1].colour;
}

void PaintSky(const GradientStop* stops, int count) {
    for (int sy = 0; sy < SH; ++sy) {
        Rgb c = Gradient(stops, count, PixelY(sy) / HEIGHT);
        for (int sx = 0; sx < SW; ++sx) At(sx, sy) = c;
    }
}

// A sun or moon with its glow; radius and glow width in pixels.
void PaintSun(float cx, float cy, float radius, Rgb disc, Rgb glow, float glowRadius,
              float glowStrength, float bottomClip = 1e9f) {
    for (int sy = 0; sy < SH; ++sy) {
        float y = PixelY(sy);
        if (y > bottomClip) break;
        for (int sx = 0; sx < SW; ++sx) {
            float x = PixelX(sx);
            float d = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
            Rgb& p = At(sx, sy);
            float g = glowStrength * std::exp(-d / glowRadius);
            p = p + glow * g;
            if (d < radius + 1.0f) p = Mix(p, disc, Clamp01(radius + 0.5f - d));
        }
    }
}

// Soft craters on a moon's disc.
void PaintMoonSurface(float cx, float cy, float radius) {
    for (int sy = 0; sy < SH; ++sy)
        for (int sx = 0; sx < SW; ++sx) {
            float x = PixelX(sx), y = PixelY(sy);
            float d = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
            if (d >= radius) continue;
            float m = Fbm(x / 9.0f, y / 9.0f, 4, 77);
            At(sx, sy) = At(sx, sy) * (0.86f + 0.14f * SmoothStep(-0.3f, 0.4f, m));
        }
}

void PaintStars(int count, float bottom, float brightness) {
    for (int i = 0; i < count; ++i) {
        float x = HashUnit(i, 1, 501) * WIDTH;
        float y = std::pow(HashUnit(i, 2, 501), 1.3f) * bottom;
        float b = brightness * (0.25f + 0.75f * std::pow(HashUnit(i, 3, 501), 3.0f));
        float size = 0.45f + 0.9f * std::pow(HashUnit(i, 4, 501), 6.0f);
        Rgb tint = Mix(Hex(0xCAD8FF), Hex(0xFFE6C8), HashUnit(i, 5, 501));
        int x0 = std::max(0, static_cast<int>((x - 3) * SUPERSAMPLE));
        int x1 = std::min(SW - 1, static_cast<int>((x + 3) * SUPERSAMPLE));
        int y0 = std::max(0, static_cast<int>((y - 3) * SUPERSAMPLE));
        int y1 = std::min(SH - 1, static_cast<int>((y + 3) * SUPERSAMPLE));
        for (int sy = y0; sy <= y1; ++sy)
            for (int sx = x0; sx <= x1; ++sx) {
                float dx = PixelX(sx) - x, dy = PixelY(sy) - y;
                float k = std::exp(-(dx * dx + dy * dy) / (size * size));
                At(sx, sy) = At(sx, sy) + tint * (b * k);
            }
    }
}

// Clouds: noise thresholded into soft shapes, stretched horizontally, lit from
// the sun's side and coloured by the caller's light and shadow tones.
struct CloudLayer {
    float top, bottom;     // band of the picture the clouds live in
    float scaleX, scaleY;  // feature size in pixels
    float coverage;        // -1 (none) .. 1 (overcast)
    float softness;
    Rgb light, shadow;
    float opacity;
    float sunX;  // where the light comes from
    uint32_t salt;
};

void PaintClouds(const CloudLayer& c) {
    for (int sy = 0; sy < SH; ++sy) {
        float y = PixelY(sy);
        if (y < c.top || y > c.bottom) continue;
        float band = SmoothStep(c.top, c.top + (c.bottom - c.top) * 0.3f, y) *
                     (1.0f - SmoothStep(c.bottom - (c.bottom - c.top) * 0.3f, c.bottom, y));
        for (int sx = 0; sx < SW; ++sx) {
            float x = PixelX(sx);
            float n = Fbm(x / c.scaleX, y / c.scaleY, 6, c.salt);
            float density = SmoothStep(-c.coverage, -c.coverage + c.softness, n) * band;
            if (density <= 0.001f) continue;
            // Light falls on the side facing the sun: compare with a sample shifted towards it.
            float towards = (c.sunX > x) ? 6.0f : -6.0f;
            float n2 = Fbm((x + towards) / c.scaleX, (y - 4.0f) / c.scaleY, 6, c.salt);
            float lit = Clamp01(0.55f + (n - n2) * 3.0f);
            Rgb col = Mix(c.shadow, c.light, lit);
            At(sx, sy) = Mix(At(sx, sy), col, density * c.opacity);
        }
    }
}

// Curtains of the northern lights.
void PaintAurora(float baseY, float height, Rgb low, Rgb high, float strength, uint32_t salt) {
    for (int sx = 0; sx < SW; ++sx) {
        float x = PixelX(sx);
        float edge = baseY + 110.0f * Fbm(x / 320.0f, 0.3f, 3, salt) +
                     10.0f * Noise(x / 40.0f, 2.0f, salt + 1);
        float rays = 0.7f + 0.3f * SmoothStep(-0.4f, 0.6f, Fbm(x / 3.5f, 0.0f, 3, salt + 2));
        float fold = 0.5f + 0.5f * Noise(x / 110.0f, 5.0f, salt + 3);
        float presence = SmoothStep(-0.15f, 0.3f, Fbm(x / 160.0f, 9.0f, 2, salt + 4));
        for (int sy = 0; sy < SH; ++sy) {
            float y = PixelY(sy);
            float above = edge - y;
            float k;
            if (above >= 0.0f)
                k = std::exp(-above / (height * (0.5f + 0.9f * fold))) * rays;
            else
                k = std::exp(above / 3.0f) * rays;
            k *= strength * (0.25f + 0.75f * fold) * presence;
            Rgb col = Mix(low, high, Clamp01(above / (height * 1.4f)));
            At(sx, sy) = At(sx, sy) + col * k;
        }
    }
}

// ---- Land ------------------------------------------------------------------

// A mountain range seen from afar: a ridged skyline and lit faces whose gullies
// run down from it, with snow above a height and haze towards the bottom.
struct Range {
    float baseY;      // mean height of the skyline
    float amplitude;  // how far the peaks rise above it
    float scale;      // horizontal feature size in pixels
    Rgb lit, shade;
    Rgb haze;
    float hazeTop, hazeBottom;  // haze share at the skyline and far below it
    float snowLine;             // pixels above baseY where snow starts; negative = none
    Rgb snow;
    float lightFromLeft;  // 1 = sun on the left, -1 = right
    uint32_t salt;
    // The peaks rise between riseFrom..riseTo and sink again between sinkFrom..sinkTo
    // (a headland or an island); the defaults keep them everywhere.
    float riseFrom = -2e4f, riseTo = -1e4f, sinkFrom = 1e4f, sinkTo = 2e4f;
};

float RangeSkyline(const Range& r, float x) {
    float envelope =
        SmoothStep(r.riseFrom, r.riseTo, x) * (1.0f - SmoothStep(r.sinkFrom, r.sinkTo, x));
    float peaks = r.amplitude * (Ridged(x / r.scale, 0.5f, 6, r.salt) - 0.35f) * 1.6f;
    // Valleys between the peaks dip only gently below the mean skyline.
    return r.baseY - (peaks < 0.0f ? peaks * 0.3f : peaks) * envelope;
}

void PaintRange(const Range& r) {
    for (int sx = 0; sx < SW; ++sx) {
        float x = PixelX(sx);
        float top = RangeSkyline(r, x);
        for (int sy = std::max(0, static_cast<int>(top * SUPERSAMPLE)); sy < SH; ++sy) {
            float y = PixelY(sy);
            float cover = Clamp01((y - top) * SUPERSAMPLE);
            if (cover <= 0.0f) continue;
            float depth = y - top;
            // Faces: the slope of a field that is stretched downwards, so that
            // ridges and gullies run from the crest to the foot.
            float u = x / (r.scale * 0.45f),
                  v = (y - r.baseY) / (r.scale * 0.9f) + depth / (r.scale * 0.6f);
            float e = 0.08f;
            float slope =
                (Ridged(u + e, v, 5, r.salt + 7) - Ridged(u - e, v, 5, r.salt + 7)) / (2 * e);
            float light = Clamp01(0.5f + 0.45f * slope * r.lightFromLeft * -1.0f);
            Rgb col = Mix(r.shade, r.lit, light);
            col = col * (0.9f + 0.2f * Fbm(x / 7.0f, y / 7.0f, 3, r.salt + 9));
            if (r.snowLine >= 0.0f) {
                float height = r.baseY - y;  // above the mean skyline
                float jitter = 22.0f * Fbm(x / 30.0f, y / 30.0f, 4, r.salt + 11);
                float s = SmoothStep(r.snowLine - 6.0f, r.snowLine + 6.0f,
                                     height + jitter + 18.0f * (light - 0.5f));
                col = Mix(col, r.snow * (0.72f + 0.4f * light), s);
            }
            float h =
                Mix(r.hazeTop, r.hazeBottom, SmoothStep(0.0f, r.amplitude * 1.2f + 40.0f, depth));
            col = Mix(col, r.haze, Clamp01(h));
            At(sx, sy) = Mix(At(sx, sy), col, cover);
        }
    }
}

// Rolling hills: a smooth skyline and a flat colour with gentle light, texture and haze.
struct Hill {
    float baseY, amplitude, scale;
    Rgb near, far;  // colour at the crest and at the foot
    Rgb haze;
    float haze0, haze1;
    float texture;  // strength of the small-scale mottling
    uint32_t salt;
};

float HillSkyline(const Hill& h, float x) {
    return h.baseY - h.amplitude * Fbm(x / h.scale, 0.7f, 4, h.salt);
}

void PaintHill(const Hill& h) {
    for (int sx = 0; sx < SW; ++sx) {
        float x = PixelX(sx);
        float top = HillSkyline(h, x);
        float slope = HillSkyline(h, x + 2.0f) - HillSkyline(h, x - 2.0f);
        for (int sy = std::max(0, static_cast<int>(top * SUPERSAMPLE)); sy < SH; ++sy) {
            float y = PixelY(sy);
            float cover = Clamp01((y - top) * SUPERSAMPLE);
            if (cover <= 0.0f) continue;
            float depth = y - top;
            Rgb col = Mix(h.near, h.far, SmoothStep(0.0f, 120.0f, depth));
            col = col *
                  (1.0f + Clamp01(0.25f - depth / 60.0f) * std::clamp(slope * 0.3f, -0.4f, 0.6f));
            col = col * (1.0f + h.texture * Fbm(x / 5.0f, y / 3.0f, 3, h.salt + 3));
            col = Mix(col, h.haze, Mix(h.haze0, h.haze1, SmoothStep(0.0f, 140.0f, depth)));
            At(sx, sy) = Mix(At(sx, sy), col, cover);
        }
    }
}

// Conifers standing on a skyline: stacked tiers that narrow towards the top.
void PaintConifers(float (*skyline)(const void*, float), const void* land, int count, float minH,
                   float maxH, Rgb colour, uint32_t salt, float x0 = 0.0f, float x1 = WIDTH) {
    for (int i = 0; i < count; ++i) {
        float cx = x0 + HashUnit(i, 0, salt) * (x1 - x0);
        float h = minH + (maxH - minH) * HashUnit(i, 1, salt);
        float w = h * (0.22f + 0.1f * HashUnit(i, 2, salt));
        float baseY = skyline(land, cx) + h * 0.12f;
        float topY = baseY - h;
        int tiers = 5 + static_cast<int>(HashUnit(i, 3, salt) * 4);
        int sx0 = std::max(0, static_cast<int>((cx - w) * SUPERSAMPLE));
        int sx1 = std::min(SW - 1, static_cast<int>((cx + w) * SUPERSAMPLE) + 1);
        int sy0 = std::max(0, static_cast<int>(topY * SUPERSAMPLE));
        int sy1 = std::min(SH - 1, static_cast<int>(baseY * SUPERSAMPLE) + 1);
        for (int sy = sy0; sy <= sy1; ++sy) {
            float t = (PixelY(sy) - topY) / h;  // 0 at the tip, 1 at the foot
            float tier = t * tiers - std::floor(t * tiers);
            float half = w * t * (0.55f + 0.45f * tier);
            if (t > 0.9f) half = w * 0.08f;  // trunk
            for (int sx = sx0; sx <= sx1; ++sx) {
                float d = std::fabs(PixelX(sx) - cx);
                float cover = Clamp01((half - d) * SUPERSAMPLE);
                if (cover > 0.0f) At(sx, sy) = Mix(At(sx, sy), colour, cover);
            }
        }
    }
}

float HillSkylineOf(const void* h, float x) { return HillSkyline(*static_cast<const Hill*>(h), x); }

// ---- Water -----------------------------------------------------------------

// Mirrors what is above the horizon into the water below it, broken up by
// ripples that grow towards the viewer, tinted and darkened by the water.
void PaintWater(float horizon, Rgb tint, float tintShare, float darken, float rippleStrength,
                float glitterX, float glitterWidth, Rgb glitter) {
    std::vector<Rgb> above(g_canvas.px);
    int hs = static_cast<int>(horizon * SUPERSAMPLE);
    for (int sy = hs; sy < SH; ++sy) {
        float y = PixelY(sy);
        float dist = y - horizon + 2.0f;  // grows towards the viewer
        float z = 60.0f / dist;           // distance along the water
        for (int sx = 0; sx < SW; ++sx) {
            float x = PixelX(sx);
            float wx = (x - WIDTH * 0.5f) * z / 40.0f;
            // Waves are long across the view and short along it.
            float wave = Fbm(wx * 0.9f, z * 9.0f, 4, 303);
            float wave2 = Fbm(wx * 0.9f, z * 9.0f + 0.08f, 4, 303);
            float my = horizon - (y - horizon) + wave * rippleStrength * dist * 0.35f;
            float mx = x + wave * rippleStrength * 4.0f;
            int ry = std::clamp(static_cast<int>(my * SUPERSAMPLE), 0, hs - 1);
            int rx = std::clamp(static_cast<int>(mx * SUPERSAMPLE), 0, SW - 1);
            Rgb col = above[static_cast<size_t>(ry) * SW + rx];
            float fresnel = 0.25f * SmoothStep(0.0f, 220.0f, dist);
            col = Mix(col, tint, Clamp01(tintShare + fresnel)) * (1.0f - darken);
            if (glitterWidth > 0.0f) {
                float spread = glitterWidth * (0.4f + dist / 120.0f);
                float beam = std::exp(-((x - glitterX) * (x - glitterX)) / (2 * spread * spread));
                float sparkle = SmoothStep(0.02f, 0.12f,
                                           (wave2 - wave) * 6.0f + 0.5f * Noise(x / 3.0f, y, 305));
                col = col + glitter * (beam * sparkle);
            }
            // Fine horizontal streaks of light on the surface.
            col = col *
                  (1.0f + 0.06f * Noise(x / 40.0f, z * 30.0f, 307) * SmoothStep(0.0f, 30.0f, dist));
            At(sx, sy) = col;
        }
    }
}

// ---- Scenes ----------------------------------------------------------------

void SceneAlpineDawn() {
    const GradientStop sky[] = {{0.0f, Hex(0x2B3A67)},
                                {0.25f, Hex(0x6A6A9E)},
                                {0.45f, Hex(0xE7A6A1)},
                                {0.55f, Hex(0xFBD2A2)}};
    PaintSky(sky, 4);
    PaintSun(470, 262, 0, Hex(0xFFFFFF), Hex(0xFFD9A0), 90, 0.35f);
    PaintClouds({30, 200, 140, 18, -0.05f, 0.35f, Hex(0xFFC8B8), Hex(0x7E6B94), 0.85f, 470, 11});
    Range far{215,           95, 220, Hex(0xC9B3C9), Hex(0x7F7FA8), Hex(0xE7B4AE), 0.35f, 0.7f, 40,
              Hex(0xFFE9E6), 1,  21};
    PaintRange(far);
    Range mid{255,           80, 170, Hex(0x8E86A8), Hex(0x3F4A6E), Hex(0xC7A3B0), 0.1f, 0.6f, 30,
              Hex(0xFBE6EC), 1,  22};
    PaintRange(mid);
    Hill shore{300, 18, 140, Hex(0x2C3D43), Hex(0x24343A), Hex(0x9D8FA6), 0.15f, 0.3f, 0.15f, 23};
    PaintHill(shore);
    PaintConifers(HillSkylineOf, &shore, 90, 14, 40, Hex(0x1C2A2F), 24);
    PaintWater(322, Hex(0x33456B), 0.12f, 0.1f, 0.6f, 470, 0, Hex(0));
}

void SceneSunsetSea() {
    const GradientStop sky[] = {
        {0.0f, Hex(0x27254F)}, {0.3f, Hex(0x8B4A73)}, {0.5f, Hex(0xF08A5D)}, {0.6f, Hex(0xFFC57A)}};
    PaintSky(sky, 4);
    PaintSun(300, 266, 26, Hex(0xFFF3C4), Hex(0xFFB060), 70, 0.6f);
    PaintClouds({60, 250, 180, 14, 0.0f, 0.3f, Hex(0xFFB889), Hex(0x5B3760), 0.9f, 300, 31});
    PaintWater(288, Hex(0x3A2E5A), 0.25f, 0.12f, 0.3f, 300, 10, Hex(0xFFC070));
}

// Skyline of one dune ridge: a long windward rise to a sharp crest, then the
// steep slip face, repeated with wandering spacing.
struct Dune {
    float baseY, amplitude, scale;
    uint32_t salt;
};

float DuneSkyline(const Dune& d, float x) {
    float phase = x / d.scale + 0.8f * Fbm(x / (d.scale * 2.5f), 0.2f, 3, d.salt);
    float f = phase - std::floor(phase);
    float shape =
        f < 0.72f ? std::pow(SmoothStep(0.0f, 0.72f, f), 1.3f) : 1.0f - SmoothStep(0.72f, 1.0f, f);
    float height = 0.55f + 0.45f * Fbm(std::floor(phase) * 0.37f, 3.0f, 2, d.salt + 1);
    return d.baseY - d.amplitude * shape * height - 8.0f * Fbm(x / 120.0f, 1.0f, 3, d.salt + 2);
}

void SceneDunes() {
    const GradientStop sky[] = {
        {0.0f, Hex(0x2F6DB5)}, {0.33f, Hex(0x8DBDE6)}, {0.42f, Hex(0xF1DFC4)}};
    PaintSky(sky, 3);
    PaintSun(110, 70, 14, Hex(0xFFFFF4), Hex(0xFFF3D0), 60, 0.5f);
    PaintClouds({30, 150, 220, 22, -0.35f, 0.3f, Hex(0xFFFFFF), Hex(0xB7C4D6), 0.7f, 110, 41});
    const Dune dunes[] = {{200, 30, 150, 42}, {228, 45, 210, 43},  {268, 62, 280, 44},
                          {325, 85, 360, 45}, {400, 105, 460, 46}, {490, 120, 560, 47}};
    for (int layer = 0; layer < 6; ++layer) {
        const Dune& d = dunes[layer];
        float haze = 0.5f - layer * 0.1f;
        for (int sx = 0; sx < SW; ++sx) {
            float x = PixelX(sx);
            float top = DuneSkyline(d, x);
            for (int sy = std::max(0, static_cast<int>(top * SUPERSAMPLE)); sy < SH; ++sy) {
                float y = PixelY(sy);
                float cover = Clamp01((y - top) * SUPERSAMPLE);
                if (cover <= 0.0f) continue;
                float depth = y - top;
                // The surface below the crest line continues the skyline's slope
                // down and to the right: a falling skyline there is the slip face,
                // turned away from the sun on the left.
                float xs = x - depth * 0.9f;
                float slope = DuneSkyline(d, xs + 1.5f) - DuneSkyline(d, xs - 1.5f);
                float shade = SmoothStep(0.3f, 1.2f, slope) *
                              SmoothStep(d.amplitude * 0.9f, d.amplitude * 0.5f, depth);
                float facing = Clamp01(0.5f - slope * 0.6f);  // windward slopes turned to the sun
                Rgb col = Mix(Mix(Hex(0xE3A267), Hex(0xFFC88C), facing), Hex(0xB0653C), shade);
                col = Mix(col, Hex(0xE0975A), SmoothStep(0.0f, 160.0f, depth) * 0.35f);
                // Wind ripples on the lit side.
                float rip = std::sin(
                    (x * 0.5f + y * 2.2f + 8.0f * Fbm(x / 50.0f, y / 25.0f, 3, d.salt + 7)) *
                    (0.5f + 0.12f * layer));
                col = col * (1.0f + 0.045f * rip * (1.0f - shade) * SmoothStep(0.0f, 12.0f, depth));
                col = col * (0.96f + 0.08f * Fbm(x / 2.5f, y / 2.5f, 2, d.salt + 9));
                col = Mix(col, Hex(0xF1DFC4), Clamp01(haze));
                At(sx, sy) = Mix(At(sx, sy), col, cover);
            }
        }
    }
}

void SceneMistyForest() {
    const GradientStop sky[] = {
        {0.0f, Hex(0x9FB7B3)}, {0.5f, Hex(0xE3E6D2)}, {1.0f, Hex(0xE9E8D5)}};
    PaintSky(sky, 3);
    PaintSun(430, 120, 30, Hex(0xFFFDF0), Hex(0xFFF6D8), 120, 0.35f);
    Rgb mist = Hex(0xDCE2D3);
    for (int layer = 0; layer < 6; ++layer) {
        float t = layer / 5.0f;
        Hill h{170.0f + layer * 55.0f,
               40.0f + layer * 8.0f,
               160.0f + layer * 40.0f,
               Mix(Hex(0x7F9B93), Hex(0x1E3A2E), t),
               Mix(Hex(0x7F9B93), Hex(0x1E3A2E), t),
               mist,
               0.15f * (1 - t),
               0.85f - 0.35f * t,
               0.05f,
               static_cast<uint32_t>(50 + layer)};
        PaintHill(h);
        Rgb trees = Mix(Mix(Hex(0x6F8E86), Hex(0x0F2A1E), t), mist, 0.1f * (1 - t));
        PaintConifers(HillSkylineOf, &h, 70 + layer * 10, 10 + layer * 9, 26 + layer * 20, trees,
                      static_cast<uint32_t>(60 + layer));
    }
}

void SceneMoonlitLake() {
    const GradientStop sky[] = {
        {0.0f, Hex(0x040A1E)}, {0.4f, Hex(0x0E2146)}, {0.62f, Hex(0x2A4474)}};
    PaintSky(sky, 3);
    PaintStars(700, 300, 1.1f);
    PaintSun(420, 110, 30, Hex(0xF4F1DE), Hex(0x8FA8D8), 80, 0.55f);
    PaintMoonSurface(420, 110, 30);
    PaintClouds({150, 260, 200, 12, -0.25f, 0.3f, Hex(0x5A6E98), Hex(0x1A2646), 0.7f, 420, 71});
    Range far{262,           70, 200, Hex(0x33466F), Hex(0x1B2748), Hex(0x2B3F69), 0.1f, 0.5f, 38,
              Hex(0xB9C6E0), -1, 72};
    PaintRange(far);
    Hill shore{300, 16, 130, Hex(0x0D1526), Hex(0x0A1020), Hex(0x1E2C4E), 0.0f, 0.2f, 0.1f, 73};
    PaintHill(shore);
    PaintConifers(HillSkylineOf, &shore, 80, 10, 34, Hex(0x070C18), 74);
    PaintWater(318, Hex(0x0C1A38), 0.2f, 0.1f, 0.8f, 420, 8, Hex(0xC8D4F0));
}

void SceneAurora() {
    const GradientStop sky[] = {
        {0.0f, Hex(0x02060F)}, {0.45f, Hex(0x0A1C2C)}, {0.6f, Hex(0x18343F)}};
    PaintSky(sky, 3);
    PaintStars(900, 330, 1.0f);
    PaintAurora(110, 50, Hex(0x3CFF9A), Hex(0xA24DDB), 0.45f, 901);
    PaintAurora(190, 75, Hex(0x45FFB0), Hex(0x6A5DE0), 0.9f, 911);
    Range peaks{
        262,           100, 190, Hex(0x3A5360), Hex(0x17232C), Hex(0x12262E), 0.05f, 0.5f, 25,
        Hex(0x9CC2C4), 1,   81};
    PaintRange(peaks);
    Hill shore{318, 10, 150, Hex(0x0B1418), Hex(0x0A1216), Hex(0x10262E), 0.0f, 0.2f, 0.1f, 82};
    PaintHill(shore);
    PaintConifers(HillSkylineOf, &shore, 50, 12, 44, Hex(0x050A0C), 83, 0, 260);
    PaintConifers(HillSkylineOf, &shore, 30, 10, 30, Hex(0x050A0C), 84, 470, 640);
    PaintWater(334, Hex(0x081820), 0.15f, 0.15f, 0.35f, 0, 0, Hex(0));
}

// Rolling farmland: hills quilted with fields, hedges between them and trees
// along the hedges, hazier with distance.
void SceneCountryside() {
    const GradientStop sky[] = {
        {0.0f, Hex(0x3C74C2)}, {0.3f, Hex(0x79AEE6)}, {0.42f, Hex(0xD6E6F2)}};
    PaintSky(sky, 3);
    PaintClouds({10, 190, 150, 55, -0.05f, 0.25f, Hex(0xFFFFFF), Hex(0x99A9C2), 0.95f, 80, 91});
    Range far{200,    45, 180, Hex(0x8FA6BE), Hex(0x6C84A2), Hex(0xC7D8E6), 0.35f, 0.5f, -1,
              Hex(0), 1,  92};
    PaintRange(far);
    const Rgb fields[] = {Hex(0x6E9A3A), Hex(0x8DB34A), Hex(0xD9C15E), Hex(0x4F7F2F),
                          Hex(0xB7B24E), Hex(0x9C8A4A), Hex(0x79A844)};
    const float bases[] = {232, 275, 330, 400, 500};
    for (int layer = 0; layer < 5; ++layer) {
        Hill h{bases[layer],
               26.0f + layer * 14.0f,
               200.0f + layer * 80.0f,
               Hex(0),
               Hex(0),
               Hex(0),
               0,
               0,
               0,
               static_cast<uint32_t>(93 + layer)};
        float cellW = 60.0f + layer * 70.0f, cellH = 12.0f + layer * 16.0f;
        float haze = 0.45f - layer * 0.11f;
        for (int sx = 0; sx < SW; ++sx) {
            float x = PixelX(sx);
            float top = HillSkyline(h, x);
            float slope = HillSkyline(h, x + 2.0f) - HillSkyline(h, x - 2.0f);
            for (int sy = std::max(0, static_cast<int>(top * SUPERSAMPLE)); sy < SH; ++sy) {
                float y = PixelY(sy);
                float cover = Clamp01((y - top) * SUPERSAMPLE);
                if (cover <= 0.0f) continue;
                float depth = y - top;
                float v = depth / cellH + 0.35f * Fbm(x / 150.0f, layer, 2, h.salt + 1);
                float row = std::floor(v);
                float u = x / cellW +
                          HashUnit(static_cast<int32_t>(row), layer, h.salt + 2) * 3.0f +
                          0.25f * Fbm(y / 40.0f, row, 2, h.salt + 3);
                float col0 = std::floor(u);
                float fu = u - col0, fv = v - row;
                int pick = static_cast<int>(
                    Hash(static_cast<int32_t>(col0), static_cast<int32_t>(row), h.salt + 4) % 7);
                Rgb col = fields[pick];
                // Furrows or mowing lines in some fields.
                if (pick == 2 || pick == 4 || pick == 5)
                    col = col * (1.0f + 0.07f * std::sin((fu * cellW + fv * cellH * 0.8f) * 1.3f));
                col = col * (0.94f + 0.12f * Fbm(x / 6.0f, y / 4.0f, 3, h.salt + 5));
                // Hedges with trees along the field edges.
                float edgeX = std::min(fu, 1.0f - fu) * cellW, edgeY = fv * cellH;
                float hedge = std::max(SmoothStep(0.9f + layer * 0.35f, 0.2f, edgeX),
                                       SmoothStep(0.7f + layer * 0.3f, 0.1f, edgeY));
                float tree =
                    SmoothStep(0.35f, 0.55f,
                               Fbm(x / (2.0f + layer * 1.5f), y / (2.0f + layer), 3, h.salt + 6));
                float bushes = std::max(
                    hedge, tree * SmoothStep(4.0f + layer * 3, 0.0f, std::min(edgeX, edgeY)));
                col = Mix(col, Hex(0x2E4A1E) * (0.8f + 0.4f * tree), bushes);
                col = col * (1.0f +
                             Clamp01(0.3f - depth / 80.0f) * std::clamp(slope * 0.3f, -0.3f, 0.4f));
                col = Mix(col, Hex(0xC7D8E6), Clamp01(haze));
                At(sx, sy) = Mix(At(sx, sy), col, cover);
            }
        }
    }
}

void SceneLagoon() {
    const GradientStop sky[] = {
        {0.0f, Hex(0x1F6FBF)}, {0.35f, Hex(0x5FA8E0)}, {0.46f, Hex(0xBFE2F2)}};
    PaintSky(sky, 3);
    PaintClouds({40, 215, 90, 40, -0.2f, 0.25f, Hex(0xFFFFFF), Hex(0x9DB2C8), 1.0f, 500, 101});
    // An island of green hills in the distance.
    Range island{223,    70, 160, Hex(0x4E8A4A), Hex(0x2C5A34), Hex(0x9CC6CE), 0.25f, 0.3f, -1,
                 Hex(0), -1, 102};
    island.riseFrom = 90;
    island.riseTo = 230;
    island.sinkFrom = 360;
    island.sinkTo = 500;
    PaintRange(island);
    PaintWater(222, Hex(0x1B8FB0), 0.55f, 0.0f, 0.5f, 0, 0, Hex(0));
    // Shallow water turns turquoise towards the beach, then sand with a line of foam.
    for (int sy = 0; sy < SH; ++sy)
        for (int sx = 0; sx < SW; ++sx) {
            float x = PixelX(sx), y = PixelY(sy);
            float shore = 395 - 25 * Fbm(x / 200.0f, 1.0f, 3, 104) - 0.08f * x;
            if (y < 222) continue;
            float shallow = SmoothStep(shore - 120, shore, y);
            Rgb& p = At(sx, sy);
            p = Mix(p, Hex(0x3FD0C9) * (0.95f + 0.1f * Noise(x / 15.0f, y / 4.0f, 105)),
                    shallow * 0.8f);
            float foam = SmoothStep(3, 0, std::fabs(y - shore + 3 * Noise(x / 10.0f, 0, 106))) *
                         SmoothStep(-0.2f, 0.4f, Noise(x / 25.0f, 3, 107));
            p = Mix(p, Hex(0xF6FBFA), foam * 0.9f);
            if (y > shore) {
                float wet = SmoothStep(shore + 14, shore, y);
                Rgb sand = Mix(Hex(0xF2DDB0), Hex(0xC9B07F), wet * 0.7f);
                sand = sand * (0.95f + 0.08f * Fbm(x / 2.0f, y / 2.0f, 2, 108));
                p = Mix(p, sand, Clamp01((y - shore) * SUPERSAMPLE));
            }
        }
}

// Snow-covered forest on a clear winter morning: conifers heavy with snow on
// white hills whose shadows take the sky's blue.
void PaintSnowyConifers(const Hill& land, int count, float minH, float maxH, Rgb needles, Rgb snow,
                        uint32_t salt) {
    for (int i = 0; i < count; ++i) {
        float cx = HashUnit(i, 0, salt) * WIDTH;
        float h = minH + (maxH - minH) * HashUnit(i, 1, salt);
        float w = h * (0.2f + 0.08f * HashUnit(i, 2, salt));
        float baseY = HillSkyline(land, cx) + h * 0.1f;
        float topY = baseY - h;
        int tiers = 5 + static_cast<int>(HashUnit(i, 3, salt) * 4);
        int sx0 = std::max(0, static_cast<int>((cx - w) * SUPERSAMPLE));
        int sx1 = std::min(SW - 1, static_cast<int>((cx + w) * SUPERSAMPLE) + 1);
        int sy0 = std::max(0, static_cast<int>(topY * SUPERSAMPLE));
        int sy1 = std::min(SH - 1, static_cast<int>(baseY * SUPERSAMPLE) + 1);
        for (int sy = sy0; sy <= sy1; ++sy) {
            float y = PixelY(sy);
            float t = (y - topY) / h;
            float tier = t * tiers - std::floor(t * tiers);
            float half = w * t * (0.55f + 0.45f * tier);
            for (int sx = sx0; sx <= sx1; ++sx) {
                float x = PixelX(sx);
                float d = std::fabs(x - cx);
                float cover = Clamp01((half - d) * SUPERSAMPLE);
                if (cover <= 0.0f) continue;
                // Snow lies on the upper part of each tier, thicker on the lit left side.
                float onTop = SmoothStep(0.45f, 0.1f, tier) *
                              (0.6f + 0.4f * SmoothStep(w * 0.5f, -w * 0.5f, x - cx));
                float lumps = SmoothStep(-0.2f, 0.3f, Noise(x / 1.5f, y / 1.5f, salt + 5));
                Rgb col = Mix(needles * (0.8f + 0.3f * SmoothStep(w, -w, x - cx)), snow,
                              Clamp01(onTop * (0.5f + lumps)));
                At(sx, sy) = Mix(At(sx, sy), col, cover);
            }
        }
    }
}

void SceneWinter() {
    const GradientStop sky[] = {
        {0.0f, Hex(0x5C8FD0)}, {0.3f, Hex(0xA9C8EA)}, {0.45f, Hex(0xF4DCCB)}};
    PaintSky(sky, 3);
    PaintSun(150, 150, 16, Hex(0xFFFDF2), Hex(0xFFF0D8), 90, 0.5f);
    PaintClouds({20, 140, 200, 25, -0.3f, 0.3f, Hex(0xFFFFFF), Hex(0xB9C6DC), 0.7f, 150, 141});
    Range peaks{205,           95, 170, Hex(0xF6F8FC), Hex(0x9DAFCF), Hex(0xE8E4EA), 0.15f, 0.6f, 0,
                Hex(0xFFFFFF), 1,  142};
    PaintRange(peaks);
    const float bases[] = {262, 318, 392, 470};
    for (int layer = 0; layer < 4; ++layer) {
        float t = layer / 3.0f;
        Hill h{bases[layer],
               26.0f + layer * 10.0f,
               190.0f + layer * 60.0f,
               Hex(0xFBFCFF),
               Hex(0xC9D6EC),
               Hex(0xDDE4F0),
               0.35f * (1 - t),
               0.3f * (1 - t),
               0.02f,
               static_cast<uint32_t>(143 + layer)};
        PaintHill(h);
        Rgb needles = Mix(Mix(Hex(0x2F4A48), Hex(0x163226), t), Hex(0xC4CEDC), 0.55f * (1 - t));
        Rgb snow = Mix(Hex(0xF4F7FC), Hex(0xDDE4F0), 0.4f * (1 - t));
        PaintSnowyConifers(h, 26 + layer * 6, 14 + layer * 14, 30 + layer * 30, needles, snow,
                           static_cast<uint32_t>(150 + layer));
    }
    // Soft blue shadows of unseen trees across the foreground snow.
    for (int sy = static_cast<int>(440 * SUPERSAMPLE); sy < SH; ++sy)
        for (int sx = 0; sx < SW; ++sx) {
            float x = PixelX(sx), y = PixelY(sy);
            float shadow = SmoothStep(0.05f, 0.25f, Fbm(x / 60.0f - y / 25.0f, y / 8.0f, 3, 160));
            At(sx, sy) = Mix(At(sx, sy), At(sx, sy) * Hex(0xC2D0EA), shadow * 0.6f);
        }
}

void SceneLavender() {
    const GradientStop sky[] = {{0.0f, Hex(0x4B5FA8)},
                                {0.25f, Hex(0xC48FB6)},
                                {0.4f, Hex(0xFFC59A)},
                                {0.46f, Hex(0xFFE1B0)}};
    PaintSky(sky, 4);
    PaintSun(500, 205, 20, Hex(0xFFF7DC), Hex(0xFFD090), 80, 0.7f);
    PaintClouds({40, 160, 220, 14, -0.2f, 0.3f, Hex(0xFFD2B0), Hex(0x8A6A9A), 0.8f, 500, 131});
    Hill far{214, 22, 200, Hex(0x8E7EA6), Hex(0x8E7EA6), Hex(0xE7B9B0), 0.4f, 0.4f, 0.02f, 132};
    PaintHill(far);
    PaintConifers(HillSkylineOf, &far, 6, 10, 22, Hex(0x6B5E86), 133, 120, 300);
    // Rows of lavender running to a vanishing point on the horizon.
    const float horizon = 222.0f;
    const float vanishX = 330.0f;
    for (int sy = static_cast<int>(horizon * SUPERSAMPLE); sy < SH; ++sy) {
        float y = PixelY(sy);
        float dist = y - horizon + 0.5f;
        float z = 400.0f / dist;  // depth
        for (int sx = 0; sx < SW; ++sx) {
            float x = PixelX(sx);
            float wx = (x - vanishX) * z / 400.0f;  // ground coordinate across the rows
            float row = wx * 1.4f;
            float f = row - std::floor(row);
            float inRow = SmoothStep(0.18f, 0.3f, f) * (1 - SmoothStep(0.7f, 0.82f, f));
            // Blossoms: a fine texture that fades into a flat colour with depth.
            float detail = SmoothStep(30.0f, 3.0f, z);
            float bloom = Fbm(wx * 30.0f, z * 6.0f, 3, 134);
            Rgb flower = Mix(Hex(0x6A4BA8), Hex(0x9C7AD8), 0.5f + 0.5f * bloom * detail);
            Rgb soil = Hex(0x6B8A3A) * 0.8f;
            Rgb col = Mix(soil, flower, Mix(0.85f, inRow, detail));
            float light = SmoothStep(0.0f, 1.0f, f) * 0.25f * detail;
            col = col * (0.9f + light);
            col = Mix(col, Hex(0xE9B5B0), Clamp01(0.55f - dist / 120.0f));
            At(sx, sy) = col;
        }
    }
}

struct SceneEntry {
    const char* name;
    uint32_t seed;
    void (*paint)();
};

constexpr SceneEntry SCENES[] = {
    {"alpine-dawn", 1, SceneAlpineDawn},
    {"sunset-sea", 2, SceneSunsetSea},
    {"dunes", 3, SceneDunes},
    {"misty-forest", 4, SceneMistyForest},
    {"moonlit-lake", 5, SceneMoonlitLake},
    {"aurora", 6, SceneAurora},
    {"countryside", 7, SceneCountryside},
    {"lagoon", 8, SceneLagoon},
    {"winter", 9, SceneWinter},
    {"lavender", 10, SceneLavender},
};

// Averages the supersamples, with a little ordered noise so that smooth skies
// do not band.
void WritePpm(FILE* out) {
    std::fprintf(out, "P6\n%d %d\n255\n", WIDTH, HEIGHT);
    std::vector<unsigned char> row(WIDTH * 3);
    for (int y = 0; y < HEIGHT; ++y) {
        for (int x = 0; x < WIDTH; ++x) {
            Rgb sum{0, 0, 0};
            for (int j = 0; j < SUPERSAMPLE; ++j)
                for (int i = 0; i < SUPERSAMPLE; ++i)
                    sum = sum + At(x * SUPERSAMPLE + i, y * SUPERSAMPLE + j);
            sum = sum * (1.0f / (SUPERSAMPLE * SUPERSAMPLE));
            float dither = HashUnit(x, y, 999) - 0.5f;
            const float ch[3] = {sum.r, sum.g, sum.b};
            for (int c = 0; c < 3; ++c)
                row[x * 3 + c] = static_cast<unsigned char>(
                    std::clamp(ch[c] * 255.0f + dither + 0.5f, 0.0f, 255.0f));
        }
        std::fwrite(row.data(), 1, row.size(), out);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SCENE > picture.ppm\nscenes:", argv[0]);
        for (const SceneEntry& s : SCENES) std::fprintf(stderr, " %s", s.name);
        std::fprintf(stderr, "\n");
        return 2;
    }
    for (const SceneEntry& s : SCENES) {
        if (std::strcmp(argv[1], s.name) != 0) continue;
        g_seed = s.seed;
        g_canvas.px.assign(static_cast<size_t>(SW) * SH, Rgb{0, 0, 0});
        s.paint();
        WritePpm(stdout);
        return std::ferror(stdout) ? 1 : 0;
    }
    std::fprintf(stderr, "%s: unknown scene %s\n", argv[0], argv[1]);
    return 2;
}
