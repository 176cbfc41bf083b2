// A picture in a 32-bit-wide ROM, laid out as rastrom and rastrom-mem write it: four 3-3-2
// pixels a word, the first pixel in the top byte, pixels row by row from the top-left.
//
// Give it the (x, y) of a pixel each clock; two clocks later red, green and blue hold that
// pixel's colour, each channel widened to 8 bits for a VGA-style DAC (an ADV7123-like video
// DAC, or a resistor ladder on 8 pins a channel).
//
// The ROM is read on the clock edge from a memory that $readmemh initialises, which
// synthesis tools map to block memory. Make its file with
//     rastrom-mem picture.bmp picture.mem
// and set WIDTH and HEIGHT to the picture's size.
module picture_rom #(
    parameter WIDTH = 62,                // the picture's size in pixels
    parameter HEIGHT = 32,
    parameter INIT_FILE = "sample.mem"
) (
    input  wire        clk,
    input  wire        in_valid,         // x and y name a pixel on this clock
    input  wire [15:0] x,
    input  wire [15:0] y,
    output reg         out_valid,        // red, green and blue hold the pixel of two clocks ago
    output reg  [7:0]  red,
    output reg  [7:0]  green,
    output reg  [7:0]  blue
);
  localparam DEPTH = (WIDTH * HEIGHT + 3) / 4;
  localparam ADDRESS_BITS = DEPTH > 1 ? $clog2(DEPTH) : 1;

  reg [31:0] rom [0:DEPTH-1];
  initial $readmemh(INIT_FILE, rom);

  // Pixel (x, y) is pixel y * WIDTH + x of the sequence: word index / 4, byte lane
  // 3 - index % 4, where lane 3 (bits 31-24) holds the first pixel of a word. A raster scan
  // can count the index instead of multiplying.
  wire [31:0] index = y * WIDTH + x;
  wire [ADDRESS_BITS-1:0] address = index[ADDRESS_BITS+1:2];

  reg [31:0] word;
  reg [1:0]  lane;
  reg        word_valid;
  always @(posedge clk) begin
    word <= rom[address];
    lane <= 2'd3 - index[1:0];
    word_valid <= in_valid;
  end

  // The pixel's byte: red in bits 7-5, green in 4-2, blue in 1-0. Repeating a channel's bits
  // spreads its levels evenly over 0-255: 3-3-2 white gives FF FF FF, black 00 00 00.
  wire [7:0] pixel = word[lane * 8 +: 8];
  always @(posedge clk) begin
    red   <= {pixel[7:5], pixel[7:5], pixel[7:6]};
    green <= {pixel[4:2], pixel[4:2], pixel[4:3]};
    blue  <= {pixel[1:0], pixel[1:0], pixel[1:0], pixel[1:0]};
    out_valid <= word_valid;
  end
endmodule
