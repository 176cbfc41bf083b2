// A ROM initialised from a .mem file, as a synthesis flow infers one; the checks read the
// memory that Yosys builds from it.
module rom #(
    parameter WIDTH = 32,
    parameter DEPTH = 1,
    parameter FILE = ""
) (
    input wire clk,
    input wire [31:0] address,
    output reg [WIDTH-1:0] data
);
  reg [WIDTH-1:0] mem [0:DEPTH-1];
  initial $readmemh(FILE, mem);
  always @(posedge clk) data <= mem[address];
endmodule
