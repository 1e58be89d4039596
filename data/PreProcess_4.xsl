<?xml version="1.0" encoding="UTF-8"?>
<!--
  Pre-processing step 4 of 4: bit positions and boolean values.

  Runs on the flat document, so it also sees the registers made from StructReg entries.
  - A single Bit becomes LSB and MSB with the same number (a bit field one bit wide), unless the
    node already gives LSB or MSB.
  - A Boolean Value written as true/false becomes the number the node reads as on or off
    (its OnValue, default 1, or its OffValue, default 0).
  Everything else is copied unchanged.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="UTF-8" indent="no"/>

  <xsl:template match="@* | node()">
    <xsl:copy>
      <xsl:apply-templates select="@* | node()"/>
    </xsl:copy>
  </xsl:template>

  <xsl:template match="/RegisterDescription/*/Bit">
    <xsl:if test="not(../LSB or ../MSB or preceding-sibling::Bit)">
      <LSB>
        <xsl:value-of select="."/>
      </LSB>
      <MSB>
        <xsl:value-of select="."/>
      </MSB>
    </xsl:if>
  </xsl:template>

  <xsl:template match="/RegisterDescription/Boolean/Value[. = 'true' or . = 'false']">
    <Value>
      <xsl:choose>
        <xsl:when test=". = 'true' and ../OnValue">
          <xsl:value-of select="../OnValue[1]"/>
        </xsl:when>
        <xsl:when test=". = 'true'">1</xsl:when>
        <xsl:when test="../OffValue">
          <xsl:value-of select="../OffValue[1]"/>
        </xsl:when>
        <xsl:otherwise>0</xsl:otherwise>
      </xsl:choose>
    </Value>
  </xsl:template>
</xsl:stylesheet>
