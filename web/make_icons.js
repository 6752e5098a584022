// Draws the page's icons at build time: a terminal's prompt, ">_", light on black, as PNG files of
// the sizes asked for (node make_icons.js DIR SIZE...; each DIR/icon-SIZE.png), the same bytes on
// every machine.
'use strict';

const fs = require('fs');
const path = require('path');

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
const INK = [0x4a, 0xf6, 0x26];
const PAPER = [0x00, 0x00, 0x00];

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

// A zlib stream of one deflate block with the fixed codes, whose matches repeat the byte before or
// the row above: written here, so that the icons are the same bytes whatever zlib Node brings.
const LENGTH_BASE = [3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115,
  131, 163, 195, 227, 258];
const LENGTH_EXTRA = [0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0];
const DISTANCE_BASE = [1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769, 1025, 1537,
  2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577];
const DISTANCE_EXTRA = [0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12,
  13, 13];

function deflate(data, rowLength) {
  const out = [];
  let pending = 0;
  let count = 0;
  const bits = (value, n) => {  // least significant bit first, as deflate packs numbers
    for (let i = 0; i < n; i += 1) {
      pending |= ((value >>> i) & 1) << count;
      count += 1;
      if (count === 8) {
        out.push(pending);
        pending = 0;
        count = 0;
      }
    }
  };
  const code = (value, n) => {  // Huffman codes go most significant bit first
    for (let i = n - 1; i >= 0; i -= 1) bits((value >>> i) & 1, 1);
  };
  const symbol = (s) => {
    if (s < 144) code(0x30 + s, 8);
    else if (s < 256) code(0x190 + s - 144, 9);
    else if (s < 280) code(s - 256, 7);
    else code(0xc0 + s - 280, 8);
  };
  const last = (table, value) => table.findLastIndex((base) => base <= value);
  bits(1, 1);  // the last block
  bits(1, 2);  // of fixed codes
  for (let at = 0; at < data.length;) {
    let length = 0;
    let distance = 0;
    for (const back of [1, rowLength]) {
      let n = 0;
      while (back <= at && n < 258 && at + n < data.length && data[at + n] === data[at + n - back]) n += 1;
      if (n > length) [length, distance] = [n, back];
    }
    if (length < 3) {
      symbol(data[at]);
      at += 1;
      continue;
    }
    const l = last(LENGTH_BASE, length);
    symbol(257 + l);
    bits(length - LENGTH_BASE[l], LENGTH_EXTRA[l]);
    const d = last(DISTANCE_BASE, distance);
    code(d, 5);
    bits(distance - DISTANCE_BASE[d], DISTANCE_EXTRA[d]);
    at += length;
  }
  symbol(256);
  if (count) out.push(pending);
  let a = 1;
  let b = 0;
  for (const byte of data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  const adler = Buffer.alloc(4);
  adler.writeUInt32BE(((b << 16) | a) >>> 0, 0);
  return Buffer.concat([Buffer.from([0x78, 0x01]), Buffer.from(out), adler]);
}

// Two colours, so one bit a pixel: the palette's entry 0 is the background, 1 the prompt.
function png(size) {
  const rowLength = 1 + Math.ceil(size / 8);  // filter type 0, then the pixels
  const pixels = Buffer.alloc(size * rowLength);
  for (let y = 0; y < size; y += 1) {
    for (let x = 0; x < size; x += 1) {
      if (GRID[Math.floor((y * GRID.length) / size)][Math.floor((x * GRID.length) / size)] === '#') {
        pixels[y * rowLength + 1 + (x >> 3)] |= 0x80 >> (x & 7);
      }
    }
  }
  const header = Buffer.alloc(13);
  header.writeUInt32BE(size, 0);
  header.writeUInt32BE(size, 4);
  header.set([1, 3, 0, 0, 0], 8);  // 1 bit, palette, deflate, no filter choice, no interlace
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), chunk('IHDR', header),
    chunk('PLTE', Buffer.from([...PAPER, ...INK])), chunk('IDAT', deflate(pixels, rowLength)),
    chunk('IEND', Buffer.alloc(0))]);
}

const [dir, ...sizes] = process.argv.slice(2);
for (const size of sizes) fs.writeFileSync(path.join(dir, `icon-${size}.png`), png(Number(size)));
