// Scans one whole frame out of vga444 and writes what the port shows inside the picture,
// one pixel a line as three hexadecimal digits (red, green, blue), to +pixels=<file>
// (default pixels.txt). It checks the frame itself: 800 clocks a line, 525 lines, sync
// pulses of 96 clocks and 2 lines, and black everywhere outside the picture.
// Under Icarus Verilog:
//     iverilog -o vga444_tb vga444.v vga444_tb.v && vvp -n vga444_tb +pixels=seen.txt
module vga444_tb;
  parameter WIDTH = 62;
  parameter HEIGHT = 32;
  parameter INIT_FILE = "sample444.mem";

  reg clk = 1'b0, reset = 1'b1;
  always #20 clk = ~clk;  // 25 MHz

  wire hsync, vsync;
  wire [3:0] r, g, b;
  vga444 #(.WIDTH(WIDTH), .HEIGHT(HEIGHT), .INIT_FILE(INIT_FILE)) vga (
      .clk(clk), .reset(reset), .hsync(hsync), .vsync(vsync), .vga_r(r), .vga_g(g), .vga_b(b));

  reg [8*4096-1:0] name;
  integer out, x, y, lows, errors = 0, lines = 0;

  initial begin
    if (!$value$plusargs("pixels=%s", name)) name = "pixels.txt";
    out = $fopen(name, "w");
    repeat (2) @(negedge clk);
    reset = 1'b0;
    // The outputs trail the beam by two clocks: the first edge reads position (0, 0) from
    // the ROM, the second puts it out.
    @(posedge clk);
    for (y = 0; y < 525; y = y + 1) begin
      lows = 0;
      for (x = 0; x < 800; x = x + 1) begin
        @(posedge clk);
        #1;
        if (!hsync) lows = lows + 1;
        if (x < WIDTH && y < HEIGHT) begin
          $fwrite(out, "%h%h%h\n", r, g, b);
        end else if ({r, g, b} != 12'h000) begin
          if (errors < 5) $display("vga444_tb: not black at %0d, %0d: %h%h%h", x, y, r, g, b);
          errors = errors + 1;
        end
        if (!vsync && (y < 490 || y > 491)) begin
          if (errors < 5) $display("vga444_tb: vsync low on line %0d", y);
          errors = errors + 1;
        end
      end
      if (lows != 96) begin
        if (errors < 5) $display("vga444_tb: hsync low for %0d clocks on line %0d", lows, y);
        errors = errors + 1;
      end
      lines = lines + 1;
    end
    $fclose(out);
    if (errors == 0) $display("vga444_tb: %0d lines of 800 clocks, picture %0d x %0d scanned", lines, WIDTH, HEIGHT);
    else $display("vga444_tb: %0d errors", errors);
    $finish;
  end
endmodule
