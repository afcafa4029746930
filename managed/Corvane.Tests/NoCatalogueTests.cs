using System;
using Xunit;

namespace Corvane.Tests
{
    /// <summary>What the wrapper does while no catalogue is loaded, and the status texts.</summary>
    public sealed class NoCatalogueTests
    {
        [Theory]
        [InlineData(0, "info: success")]
        [InlineData(1, "info: continue")]
        [InlineData(-1, "error: error")]
        [InlineData(-100, "error: size")]
        [InlineData(-106, "error: read boot")]
        [InlineData(-113, "error: read and parse indx")]
        [InlineData(-1004, "error: unexpected5")]
        [InlineData(12345, "error: other")]
        [InlineData(2, "error: other")]
        [InlineData(-114, "error: other")]
        [InlineData(int.MinValue, "error: other")]
        public void MessagesAreTheLibraryTexts(int code, string text)
        {
            Assert.Equal(text, MftClass.GetMftMessage(code));
        }

        [Fact]
        public void GetMftWithoutCatalogueFailsAndLeavesTheArray()
        {
            MftClass.loadedCount = 0;
            var records = new ResultRecord[3];
            records[1].name = "kept";
            records[2].creationTime = -5;

            Assert.Equal(-100, MftClass.GetMft(records));

            Assert.Null(records[0].name);
            Assert.Equal("kept", records[1].name);
            Assert.Equal(-5, records[2].creationTime);
        }

        [Fact]
        public void EmptyOrNullArray()
        {
            Assert.Equal(-1, MftClass.GetMft(Array.Empty<ResultRecord>()));
            Assert.Throws<NullReferenceException>(() => MftClass.GetMft(null));
        }
    }
}
