#!/usr/bin/env node
// SilkEncoder in.pcm rate out.aud: encodes raw s16le mono PCM as SILK v3 the way WeChat stores
// voice messages (the byte 0x02, then "#!SILK_V3"). Used by the sample-backup generator only.
'use strict';

const fs = require('fs');
const path = require('path');

async function main(argv) {
    if (argv.length !== 3) {
        process.stderr.write('usage: SilkEncoder input.pcm rate output.aud\n');
        return 2;
    }
    const { encode } = require(path.join(__dirname, 'node_modules', 'silk-wasm'));
    const result = await encode(fs.readFileSync(argv[0]), Number(argv[1]));
    fs.writeFileSync(argv[2], result.data);
    return 0;
}

main(process.argv.slice(2)).then(
    (code) => process.exit(code),
    (err) => {
        process.stderr.write(`SilkEncoder: ${err && err.message ? err.message : err}\n`);
        process.exit(1);
    });
