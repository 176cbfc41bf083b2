// A picture on a 12-bit VGA port, as the Basys 3, Nexys A7, Arty (with the VGA add-on) and
// DE10-Lite boards wire it: 4 bits each of red, green and blue into a resistor ladder, and
// the two sync lines. 640 x 480 at 60 Hz from a 25 MHz pixel clock (25.175 MHz exactly).
//
// The picture sits in the top-left corner, one rgb444 pixel a 12-bit word, red in bits
// 11-8, green in 7-4, blue in 3-0, pixels row by row; around it the screen is black. Make
// the ROM's file with
//     rastrom-mem --pixel rgb444 picture.bmp picture.mem
// and set WIDTH and HEIGHT to the picture's size (the file's first line says them).
module vga444 #(
    parameter WIDTH = 62,               // the picture's size in pixels
    parameter HEIGHT = 32,
    parameter INIT_FILE = "sample444.mem"
) (
    input  wire       clk,              // the pixel clock
    input  wire       reset,
    output reg        hsync,            // active low, as VGA 640 x 480 wants
    output reg        vsync,
    output reg  [3:0] vga_r,
    output reg  [3:0] vga_g,
    output reg  [3:0] vga_b
);
  // The line and the frame: visible, front porch, sync pulse, back porch.
  localparam H_VISIBLE = 640, H_FRONT = 16, H_SYNC = 96, H_BACK = 48;
  localparam V_VISIBLE = 480, V_FRONT = 10, V_SYNC = 2, V_BACK = 33;
  localparam H_TOTAL = H_VISIBLE + H_FRONT + H_SYNC + H_BACK;  // 800
  localparam V_TOTAL = V_VISIBLE + V_FRONT + V_SYNC + V_BACK;  // 525
  localparam DEPTH = WIDTH * HEIGHT;
  localparam ADDRESS_BITS = DEPTH > 1 ? $clog2(DEPTH) : 1;

  reg [11:0] rom [0:DEPTH-1];
  initial $readmemh(INIT_FILE, rom);

  reg [9:0] h = 0, v = 0;
  always @(posedge clk) begin
    if (reset) begin
      h <= 0;
      v <= 0;
    end else if (h == H_TOTAL - 1) begin
      h <= 0;
      v <= v == V_TOTAL - 1 ? 10'd0 : v + 10'd1;
    end else begin
      h <= h + 10'd1;
    end
  end

  // The address counts along with the beam inside the picture, so no multiplier is needed:
  // it steps at every picture pixel and starts again at the top of each frame.
  wire in_picture = h < WIDTH && v < HEIGHT;
  reg [ADDRESS_BITS-1:0] address = 0;
  always @(posedge clk) begin
    if (reset || (h == H_TOTAL - 1 && v == V_TOTAL - 1)) address <= 0;
    else if (in_picture) address <= address + 1'b1;
  end

  // One clock to read the ROM; the sync lines and the picture flag wait as long, and the
  // outputs are registered once more, so everything leaves together.
  reg [11:0] pixel;
  reg        show, hsync_d, vsync_d;
  always @(posedge clk) begin
    pixel <= rom[address];
    show <= in_picture;
    hsync_d <= !(h >= H_VISIBLE + H_FRONT && h < H_VISIBLE + H_FRONT + H_SYNC);
    vsync_d <= !(v >= V_VISIBLE + V_FRONT && v < V_VISIBLE + V_FRONT + V_SYNC);
  end
  always @(posedge clk) begin
    {vga_r, vga_g, vga_b} <= show ? pixel : 12'h000;
    hsync <= hsync_d;
    vsync <= vsync_d;
  end
endmodule
