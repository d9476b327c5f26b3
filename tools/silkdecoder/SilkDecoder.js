#!@SILK_INTERPRETER@
// SilkDecoder "in.silk" "out.pcm": decodes a WeChat SILK v3 voice message into raw signed 16-bit
// little-endian PCM, 2 channels at 11780 Hz, the form Ferrowick's playback window plays .pcm files in.
// The viewer hands over the stored file without its first byte (it starts with "#!SILK_V3");
// silk-wasm only accepts the stream with that byte (0x02) in front, so it is put back here.
'use strict';

const fs = require('fs');
const path = require('path');

const kDecodeRate = 24000; // SILK's own top rate: nothing is lost before resampling
const kOutRate = 11780;
const kOutChannels = 2;

function loadSilk() {
    // Installed layout first (node_modules beside this script), then the source tree's.
    const candidates = [path.join(__dirname, 'node_modules', 'silk-wasm'), '@SILK_WASM_DIR@'];
    for (const dir of candidates) {
        if (dir && !dir.startsWith('@') && fs.existsSync(path.join(dir, 'package.json')))
            return require(dir);
    }
    throw new Error('silk-wasm is not installed (run scripts/setup.sh)');
}

// Windowed-sinc resampler: the low-pass sits below the lower Nyquist frequency, so downsampling
// does not fold high voices back into the band.
function resample(input, inRate, outRate) {
    const ratio = inRate / outRate;
    const outLength = Math.round(input.length * outRate / inRate);
    const output = new Float64Array(outLength);
    const cutoff = 0.45 * Math.min(inRate, outRate) / inRate; // cycles per input sample
    const halfWidth = 32; // taps each side, in input samples scaled to the cutoff
    const reach = Math.ceil(halfWidth / (2 * cutoff));
    for (let n = 0; n < outLength; ++n) {
        const t = n * ratio;
        const first = Math.max(0, Math.floor(t) - reach + 1);
        const last = Math.min(input.length - 1, Math.floor(t) + reach);
        let sum = 0;
        for (let k = first; k <= last; ++k) {
            const u = t - k;
            const x = 2 * cutoff * u;
            const sinc = x === 0 ? 1 : Math.sin(Math.PI * x) / (Math.PI * x);
            const w = u / reach; // -1..1 across the window
            const blackman = Math.abs(w) >= 1 ? 0 : 0.42 + 0.5 * Math.cos(Math.PI * w) + 0.08 * Math.cos(2 * Math.PI * w);
            sum += input[k] * 2 * cutoff * sinc * blackman;
        }
        output[n] = sum;
    }
    return output;
}

async function main(argv) {
    if (argv.length !== 2) {
        process.stderr.write('usage: SilkDecoder input.silk output.pcm\n');
        return 2;
    }
    const [inPath, outPath] = argv;
    let silk = fs.readFileSync(inPath);
    if (silk.length > 0 && silk[0] !== 0x02)
        silk = Buffer.concat([Buffer.from([0x02]), silk]);
    const { decode } = loadSilk();
    const decoded = await decode(silk, kDecodeRate);
    const pcm = decoded.data;
    const samples = new Int16Array(pcm.buffer, pcm.byteOffset, Math.floor(pcm.byteLength / 2));
    const resampled = resample(samples, kDecodeRate, kOutRate);
    const out = Buffer.alloc(resampled.length * 2 * kOutChannels);
    for (let i = 0; i < resampled.length; ++i) {
        const v = Math.max(-32768, Math.min(32767, Math.round(resampled[i])));
        for (let c = 0; c < kOutChannels; ++c)
            out.writeInt16LE(v, (i * kOutChannels + c) * 2);
    }
    fs.writeFileSync(outPath, out);
    return 0;
}

main(process.argv.slice(2)).then(
    (code) => process.exit(code),
    (err) => {
        process.stderr.write(`SilkDecoder: ${err && err.message ? err.message : err}\n`);
        process.exit(1);
    });
