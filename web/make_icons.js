// Draws the page's icons at build time: a terminal's prompt, ">_", light on black, as PNG files of
// the sizes asked for (node make_icons.js DIR SIZE...; each DIR/icon-SIZE.png).
'use strict';

const fs = require('fs');
const path = require('path');
const zlib = require('zlib');

// The picture on a grid of 16 by 16 cells: # is the prompt's colour, everything else background.
const GRID = [
  '................',
  '................',
  '................',
  '..##............',
  '...##...........',
  '....##..........',
  '.....##.........',
  '......##........',
  '.....##.........',
  '....##..........',
  '...##...........',
  '..##....######..',
  '........######..',
  '................',
  '................',
  '................',
];
const INK = [0x4a, 0xf6, 0x26, 0xff];
const PAPER = [0x00, 0x00, 0x00, 0xff];

const CRC_TABLE = Array.from({length: 256}, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k += 1) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function crc32(bytes) {
  let c = 0xffffffff;
  for (const byte of bytes) c = CRC_TABLE[(c ^ byte) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const head = Buffer.alloc(8);
  head.writeUInt32BE(data.length, 0);
  head.write(type, 4, 'ascii');
  const tail = Buffer.alloc(4);
  tail.writeUInt32BE(crc32(Buffer.concat([head.subarray(4), data])), 0);
  return Buffer.concat([head, data, tail]);
}

function png(size) {
  const rows = [];
  for (let y = 0; y < size; y += 1) {
    const row = Buffer.alloc(1 + 4 * size);  // filter type 0, then RGBA
    for (let x = 0; x < size; x += 1) {
      const cell = GRID[Math.floor((y * GRID.length) / size)][Math.floor((x * GRID.length) / size)];
      Buffer.from(cell === '#' ? INK : PAPER).copy(row, 1 + 4 * x);
    }
    rows.push(row);
  }
  const header = Buffer.alloc(13);
  header.writeUInt32BE(size, 0);
  header.writeUInt32BE(size, 4);
  header.set([8, 6, 0, 0, 0], 8);  // 8 bits, RGBA, deflate, no filter choice, no interlace
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), chunk('IHDR', header),
    chunk('IDAT', zlib.deflateSync(Buffer.concat(rows), {level: 9})), chunk('IEND', Buffer.alloc(0))]);
}

const [dir, ...sizes] = process.argv.slice(2);
for (const size of sizes) fs.writeFileSync(path.join(dir, `icon-${size}.png`), png(Number(size)));
